#include "tests/support/file_state.h"

#include <sys/stat.h>

#include <sstream>
#include <string_view>

#include "engine/checksum.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {

namespace fs = std::filesystem;

std::string StateOf(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return "missing";
    std::ostringstream state;
    state << std::oct << (status.st_mode & 07777) << std::dec << " " << status.st_uid << ":"
          << status.st_gid;
    if (S_ISLNK(status.st_mode)) {
        state << " link to " << fs::read_symlink(path).string();
    } else if (S_ISREG(status.st_mode)) {
        Sha256 digest;
        ReadInBlocks(path, std::size_t{1} << 20,
                     [&](std::span<const char> block) { digest.Update(std::as_bytes(block)); });
        state << " " << status.st_size << " bytes, sha256 ";
        for (const auto byte : digest.Finish()) state << std::hex << (byte >> 4) << (byte & 0xf);
    }
    return state.str();
}

Snapshot Take(const fs::path& folder) {
    Snapshot snapshot;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        snapshot[fs::relative(entry.path(), folder).string()] = StateOf(entry.path());
    return snapshot;
}

}  // namespace tessel::testing
