// FileNamePart on random paths, with the Linux and the Windows separator: the result is the end
// of the path after its last separator, and only the chosen separator separates.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/piece_naming.h"
#include "fuzz/fuzz_check.h"

namespace {

using tessel::fuzz::Require;

void CheckFileNamePart(std::string_view path, char separator) {
    const std::string name = tessel::FileNamePart(path, separator);
    Require(name.find(separator) == std::string::npos, "a file name holds no separator");
    Require(path.ends_with(name), "the file name is the end of the path");
    const auto last = path.rfind(separator);
    if (last == std::string_view::npos) {
        Require(name == path, "a path without a separator is its own file name");
    } else {
        Require(name.size() == path.size() - last - 1,
                "the file name starts right after the last separator");
    }
    Require(tessel::FileNamePart(name, separator) == name, "a file name is its own file name");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view path(reinterpret_cast<const char*>(data), size);
    CheckFileNamePart(path, '/');
    CheckFileNamePart(path, '\\');
    return 0;
}
