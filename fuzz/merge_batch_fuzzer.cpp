// WriteMergeBatch with random file-name fields and piece counts, into a scratch folder. Either
// the failure is reported in InfoMessage, or the file read back has the batch file's line
// structure: CR LF endings, the five header lines, N copy lines naming the pieces 1 to N, a
// blank line and the echo line, with every "%" doubled. Nothing but that one file is written.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "engine/merge_batch.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"
#include "engine/shared_settings.h"
#include "fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;
using tessel::fuzz::Require;

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kPercent = "%";
constexpr char kQuote = '"';
constexpr char kUntouched[] = "untouched by the batch writer";
// The longest file name the system takes, in bytes.
constexpr std::size_t kLongestFileName = 255;
constexpr double kMaxPieces = static_cast<double>(tessel::kMaxPieces);
// Names of the pieces as the split writes them; its full stop and letters need no quoting.
constexpr std::string_view kExtension = tessel::kDefaultPieceExtension;

// A folder of its own for the whole run, emptied after every input. It lies under $TMPDIR when
// that is set (an abort leaves the folder behind, so a script can remove it), else in memory
// where the system has such a folder, because every input writes and flushes a file.
fs::path ScratchParent() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp != nullptr && *tmp != '\0') return tmp;
    return fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
}

class ScratchFolder {
  public:
    ScratchFolder() {
        const fs::path parent = ScratchParent();
        std::string pattern = (parent / "tessel-fuzz-XXXXXX").string();
        Require(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        return names;
    }
    void Empty() const {
        for (const auto& entry : fs::directory_iterator(path_)) fs::remove_all(entry.path());
    }

  private:
    fs::path path_;
};

// Piece counts a split can leave: fractions, whole numbers, counts just past the limit, and the
// values a division by zero or a negative chunk size gives. Counts near the limit itself are
// left to the engine's tests: a batch file of 32767 copy lines takes a thousand times longer to
// write and check than a short one, and libFuzzer, finding that its loops run longer, would
// keep drawing such counts.
double PieceCountFrom(FuzzedDataProvider& input) {
    constexpr double kLargestDrawn = 300.0;
    constexpr double kEdgeCounts[] = {0.0,
                                      -0.0,
                                      0.5,
                                      1.0,
                                      1.0000001,
                                      2.0,
                                      2.5,
                                      kMaxPieces + 1e-9,
                                      kMaxPieces + 1,
                                      std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::max(),
                                      std::numeric_limits<double>::denorm_min(),
                                      -3.0};
    const auto draw = input.ConsumeIntegral<std::uint8_t>();  // 0 once the input is used up
    if (draw < 64) return input.PickValueInArray(kEdgeCounts);
    if (draw < 192) return input.ConsumeFloatingPointInRange(-4.0, kLargestDrawn);
    const double any = input.ConsumeFloatingPoint<double>();
    return std::fabs(any) <= kMaxPieces ? std::fmod(any, kLargestDrawn) : any;
}

// How many pieces the batch file must list, or nothing when the count is refused.
std::optional<std::int64_t> ExpectedPieces(double pieceCount) {
    if (std::isnan(pieceCount)) return std::nullopt;
    if (pieceCount < 1.0) return 1;
    const double whole = std::ceil(pieceCount);
    if (whole > kMaxPieces) return std::nullopt;
    return static_cast<std::int64_t>(whole);
}

std::string TrimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The lines of a text in which every line ends in CR LF; a lone CR or LF breaks the structure.
std::vector<std::string> CrLfLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const auto end = text.find(kCrLf);
        Require(end != std::string_view::npos, "every line ends in CR LF");
        const std::string_view line = text.substr(0, end);
        Require(line.find_first_of("\r\n") == std::string_view::npos,
                "no CR or LF stands alone inside a line");
        lines.emplace_back(line);
        text.remove_prefix(end + kCrLf.size());
    }
    return lines;
}

// Every run of "%" has an even length, so the command interpreter reads each pair as one "%".
bool EveryPercentDoubled(std::string_view text) {
    for (auto at = text.find(kPercent); at != std::string_view::npos;
         at = text.find(kPercent, at)) {
        const auto end = std::min(text.find_first_not_of(kPercent, at), text.size());
        if ((end - at) % 2 != 0) return false;
        at = end;
    }
    return true;
}

// The name as the command interpreter reads it: each "%%" stands for one "%".
std::string Undoubled(std::string_view text) {
    std::string plain;
    for (std::size_t at = 0; at < text.size(); ++at) {
        plain += text[at];
        if (text[at] == '%' && at + 1 < text.size() && text[at + 1] == '%') ++at;
    }
    return plain;
}

// Printable ASCII other than the replacement mark "?", in order.
std::string PlainAscii(std::string_view text) {
    std::string plain;
    for (const char c : text)
        if (c >= ' ' && c < '\x7f' && c != '?') plain += c;
    return plain;
}

std::string Quoted(std::string_view text) {
    return kQuote + std::string(text) + kQuote;
}

// The name as the batch file writes it, taken from the first copy line, which must be
// copy /b "M.1.BRK"  "M" for that name M.
std::string MergedNameIn(const std::string& firstCopy) {
    const std::string shell =
        "copy /b " + Quoted(tessel::PieceName("", 1, kExtension)) + "  " + Quoted("");
    Require(firstCopy.size() >= shell.size() && (firstCopy.size() - shell.size()) % 2 == 0,
            "the first copy line names the merged file twice");
    const std::string merged = firstCopy.substr(std::string_view("copy /b \"").size(),
                                                (firstCopy.size() - shell.size()) / 2);
    Require(firstCopy == "copy /b " + Quoted(tessel::PieceName(merged, 1, kExtension)) + "  " +
                             Quoted(merged),
            "the first copy line copies piece 1 to the merged file");
    return merged;
}

void CheckBatchText(const std::string& text, const std::string& name, std::int64_t pieces) {
    const std::vector<std::string> lines = CrLfLines(text);
    Require(static_cast<std::int64_t>(lines.size()) == pieces + 7,
            "the batch file has five header lines, N copy lines and two closing lines");
    Require(lines[0] == "@echo off", "line 1 turns echoing off");
    Require(lines[1] == " " && lines[4] == " ", "lines 2 and 5 are a single blank");
    Require(lines[2] == ": This batch file was generated by Tessel", "line 3 names the tool");
    Require(lines[3].starts_with(": "), "line 4 is a comment");

    const std::string merged = MergedNameIn(lines[5]);
    for (std::int64_t i = 2; i <= pieces; ++i) {
        Require(lines[static_cast<std::size_t>(4 + i)] ==
                    "copy /b " + Quoted(merged) + "+" +
                        Quoted(tessel::PieceName(merged, i, kExtension)) + "  " + Quoted(merged),
                "copy line i appends piece i to the merged file");
    }
    Require(lines[lines.size() - 2] == " ", "a single blank precedes the echo line");
    Require(lines.back() == "echo \"File '" + merged + "' Successfully merged.\"",
            "the echo line names the merged file as the copy lines do");

    Require(EveryPercentDoubled(text), "every % in the batch file is doubled");
    const std::string written = Undoubled(merged);
    for (const char c : written)
        Require(c < 0 || c >= ' ', "no control character stands in the merged name");
    Require(written.find(kQuote) == std::string::npos,
            "no quote in a name closes the quotes around it");
    std::string unquotedName = name;
    std::erase(unquotedName, kQuote);
    Require(PlainAscii(written) == PlainAscii(unquotedName),
            "the merged name keeps the name's plain ASCII characters and adds none");
    if (std::all_of(name.begin(), name.end(),
                    [](char c) { return c >= ' ' && c < '\x7f' && c != kQuote; })) {
        Require(written == name, "a plain ASCII name is written as it is");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFolder scratch;
    FuzzedDataProvider input(data, size);
    const double pieceCount = PieceCountFrom(input);
    const std::string field = input.ConsumeRemainingBytesAsString();

    tessel::SharedSettings settings;
    tessel::SetStartupDefaults(settings);
    settings.OutputFolder = scratch.path().string();
    settings.InfoMessage = kUntouched;
    settings.StatusMessage = kUntouched;
    settings.PieceCount = pieceCount;
    tessel::WriteMergeBatch(settings, field);

    const std::string name = tessel::FileNamePart(TrimSpaces(field), '/');
    const std::string batchName = name + ".bat";
    const std::string batchPath = tessel::JoinPath(settings.OutputFolder, batchName, '/');
    const auto pieces = ExpectedPieces(pieceCount);
    const bool failed = settings.InfoMessage != kUntouched;
    const std::vector<std::string> written = scratch.Names();

    Require(settings.StatusMessage == kUntouched, "the batch writer leaves the status line alone");
    Require(written.empty() || (written.size() == 1 && written.front() == batchName),
            "nothing but the batch file of that name is written");
    if (failed) {
        Require(settings.InfoMessage == tessel::messages::kBatchFailedInfoOpen + batchPath +
                                            tessel::messages::kFailedInfoClose,
                "a failure names the batch file in InfoMessage");
        Require(pieces || written.empty() || ReadAll(batchPath).empty(),
                "a refused piece count leaves the batch file empty");
        const std::string trimmed = TrimSpaces(field);
        Require(!pieces || batchName.size() > kLongestFileName || trimmed.empty() ||
                    trimmed.find('\0') != std::string::npos,
                "a valid piece count, a name the system takes and a path give a batch file");
    } else {
        Require(pieces.has_value(), "a piece count past the limit is refused");
        Require(written.size() == 1, "the batch file is written");
        Require(settings.PieceCount == static_cast<double>(*pieces),
                "the listed piece count is stored back");
        CheckBatchText(ReadAll(batchPath), name, *pieces);
    }
    scratch.Empty();
    return 0;
}
