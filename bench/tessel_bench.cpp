// Runs one split or one join through the engine, for timing against other tools from a
// script. Prints the process's peak resident memory on stderr as "peak_rss_kib=N", and after a
// join whether it checked the pieces against a checksum file as "verified=yes" or "verified=no".
//
// Usage: tessel_bench split FILE OUTDIR CHUNK
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
#include "engine/messages.h"
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

int Split(const std::string& input, const std::string& outputFolder, std::int64_t chunkSize) {
    tessel::SharedSettings settings;
    tessel::SetStartupDefaults(settings);
    settings.OutputFolder = outputFolder;
    settings.ChunkSize = chunkSize;
    const bool succeeded = tessel::SplitFile(settings, input);
    return Finish(succeeded, settings);
}

int Join(const std::string& target) {
    tessel::SharedSettings settings;
    tessel::SetStartupDefaults(settings);
    const bool succeeded = tessel::JoinFiles(settings, target);
    if (succeeded)
        std::fprintf(stderr, "verified=%s\n",
                     settings.StatusMessage == tessel::messages::kJoinVerified ? "yes" : "no");
    return Finish(succeeded, settings);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tessel_bench split FILE OUTDIR CHUNK\n"
                 "       tessel_bench join TARGET\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "split" && argc == 5) {
        const auto chunkSize = ParseBytes(argv[4]);
        if (!chunkSize) return Usage();
        return Split(argv[2], argv[3], *chunkSize);
    }
    if (command == "join" && argc == 3) return Join(argv[2]);
    return Usage();
}
