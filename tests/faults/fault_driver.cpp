// Runs one split (with the batch file when asked) or one join through the engine's public
// interface, so that a fault sweep can watch a whole operation from outside the process.
//
// Usage: tessel_fault_driver split FILE OUTDIR CHUNK [--batch]
//        tessel_fault_driver join TARGET
// Prints the status text on stdout ("status: ...", and "batch: ..." when the batch file could
// not be written), and on stderr how many descriptors the process held before and after the
// operation ("descriptors before=N after=M"), so that a descriptor left open shows. Exits 0
// when the engine reports success, 1 when it reports failure, 2 on wrong usage.
#include <dirent.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "engine/join.h"
#include "engine/merge_batch.h"
#include "engine/messages.h"
#include "engine/shared_settings.h"
#include "engine/split.h"

namespace {

constexpr char kBatchOption[] = "--batch";

std::optional<std::int64_t> ParseBytes(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The entries of /proc/self/fd, less ".", ".." and the one the listing itself holds; -1 when
// the folder cannot be read.
int OpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
    return count - 1;
}

tessel::SharedSettings StartSettings() {
    tessel::SharedSettings settings;
    tessel::SetStartupDefaults(settings);
    return settings;
}

// The split as the window runs it: the check, the writing, and the batch file after both unless
// the check refused to touch the disk at all.
bool Split(tessel::SharedSettings& settings, const std::string& input, bool batch) {
    const tessel::SplitCheck check = tessel::CheckSplit(tessel::SplitRequestFrom(settings, input));
    if (check.pieceCount) settings.PieceCount = *check.pieceCount;
    tessel::TakeReport(settings, check.report);
    bool split = false;
    if (check.plan) {
        const auto result = tessel::WriteSplit(*check.plan);
        tessel::TakeReport(settings, result.report);
        split = result.report.Done();
    }
    std::printf("status: %s\n", settings.StatusMessage.c_str());
    if (!batch || check.report.outcome == tessel::Outcome::Refused) return split;
    tessel::WriteMergeBatch(settings, input);
    // The batch writer reports a failure in the information text only.
    const bool batchWritten =
        !settings.InfoMessage.starts_with(tessel::messages::kBatchFailedInfoOpen);
    if (!batchWritten) std::printf("batch: %s\n", settings.InfoMessage.c_str());
    return split && batchWritten;
}

bool Join(tessel::SharedSettings& settings, const std::string& target) {
    const bool joined = tessel::JoinFiles(settings, target);
    std::printf("status: %s\n", settings.StatusMessage.c_str());
    return joined;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tessel_fault_driver split FILE OUTDIR CHUNK [--batch]\n"
                 "       tessel_fault_driver join TARGET\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    const bool split = command == "split" &&
                       (argc == 5 || (argc == 6 && argv[5] == std::string_view(kBatchOption)));
    const bool join = command == "join" && argc == 3;
    const auto chunkSize = split ? ParseBytes(argv[4]) : std::nullopt;
    if ((!split || !chunkSize) && !join) return Usage();

    tessel::SharedSettings settings = StartSettings();
    const int before = OpenDescriptors();
    bool succeeded = false;
    if (split) {
        settings.OutputFolder = argv[3];
        settings.ChunkSize = *chunkSize;
        succeeded = Split(settings, argv[2], argc == 6);
    } else {
        succeeded = Join(settings, argv[2]);
    }
    std::fflush(stdout);
    std::fprintf(stderr, "descriptors before=%d after=%d\n", before, OpenDescriptors());
    return succeeded ? 0 : 1;
}
