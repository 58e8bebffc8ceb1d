// Runs one split or one join through the engine, for timing against other tools from a
// script. Prints the process's peak resident memory on stderr as "peak_rss_kib=N", and after a
// join whether it checked the pieces against a checksum file as "verified=yes" or "verified=no",
// and how many pieces it rebuilt from recovery pieces as "rebuilt=N".
//
// Usage: tessel_bench split FILE OUTDIR CHUNK [RECOVERY]
//        tessel_bench join TARGET
// Exits 0 when the engine reports success, 1 when it reports failure (its status text is
// printed on stderr), 2 on wrong usage.
#include <sys/resource.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "engine/join.h"
#include "engine/shared_settings.h"
#include "engine/split.h"

namespace {

std::optional<std::int64_t> ParseBytes(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// ru_maxrss is in KiB on Linux.
void ReportPeakMemory() {
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) == 0)
        std::fprintf(stderr, "peak_rss_kib=%ld\n", usage.ru_maxrss);
}

int Finish(bool succeeded, const tessel::SharedSettings& settings) {
    ReportPeakMemory();
    if (succeeded) return 0;
    std::fprintf(stderr, "tessel_bench: %s\n", settings.StatusMessage.c_str());
    return 1;
}

int Split(const std::string& input, const std::string& outputFolder, std::int64_t chunkSize,
          std::int64_t recovery) {
    tessel::SharedSettings settings;
    tessel::SetStartupDefaults(settings);
    settings.OutputFolder = outputFolder;
    settings.ChunkSize = chunkSize;
    auto request = tessel::SplitRequestFrom(settings, input);
    request.recovery = recovery;
    const auto check = tessel::CheckSplit(request);
    tessel::TakeReport(settings, check.report);
    bool succeeded = false;
    if (check.plan) {
        const auto result = tessel::WriteSplit(*check.plan);
        tessel::TakeReport(settings, result.report);
        succeeded = result.report.Done();
    }
    return Finish(succeeded, settings);
}

int Join(const std::string& target) {
    tessel::SharedSettings settings;
    tessel::SetStartupDefaults(settings);
    const auto check = tessel::CheckJoin(tessel::JoinRequestFrom(settings, target));
    tessel::TakeReport(settings, check.report);
    if (!check.plan) return Finish(false, settings);
    const auto result = tessel::WriteJoin(*check.plan);
    tessel::TakeReport(settings, result.report);
    if (result.report.Done())
        std::fprintf(stderr, "verified=%s\nrebuilt=%lld\n", result.verified ? "yes" : "no",
                     static_cast<long long>(result.rebuilt));
    return Finish(result.report.Done(), settings);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tessel_bench split FILE OUTDIR CHUNK [RECOVERY]\n"
                 "       tessel_bench join TARGET\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "split" && (argc == 5 || argc == 6)) {
        const auto chunkSize = ParseBytes(argv[4]);
        const auto recovery = argc == 6 ? ParseBytes(argv[5]) : std::optional<std::int64_t>(0);
        if (!chunkSize || !recovery) return Usage();
        return Split(argv[2], argv[3], *chunkSize, *recovery);
    }
    if (command == "join" && argc == 3) return Join(argv[2]);
    return Usage();
}
