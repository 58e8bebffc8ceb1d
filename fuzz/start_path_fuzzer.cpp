// The start path on random command lines and the file field's text for it: the first argument
// that is not empty and not an option is taken; the field's text is the path itself or the path
// less the end of a piece or checksum name, and every piece or checksum name of a name that has
// a file name gives that name back.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/checksum.h"
#include "engine/piece_naming.h"
#include "fuzz/fuzz_check.h"
#include "ui/start_path.h"

namespace {

using tessel::fuzz::Require;

constexpr std::size_t kMaxExtensionLength = 8;
constexpr std::size_t kMaxArguments = 8;
constexpr std::size_t kMaxArgumentLength = 64;
constexpr char kRecoveryMark = 'R';

bool IsDecimalFromOne(std::string_view number) {
    return !number.empty() && number.front() != '0' &&
           std::ranges::all_of(number, [](char c) { return c >= '0' && c <= '9'; });
}

// The text is the path or the path less ".N<extension>", ".RN<extension>" or ".sha256", with
// a file name left.
void CheckFieldText(std::string_view path, std::string_view extension) {
    const std::string text = tessel::ui::FileFieldText(path, extension);
    Require(path.starts_with(text), "the field's text is the start of the path");
    if (text == path) return;
    Require(!tessel::FileNamePart(text, '/').empty(), "a shortened path keeps a file name");
    const std::string_view tail = path.substr(text.size());
    if (tail == tessel::kChecksumSuffix) return;
    Require(!extension.empty() && tail.ends_with(extension) && tail.front() == '.',
            "only a piece's or a checksum file's ending is taken off");
    std::string_view number = tail.substr(1, tail.size() - 1 - extension.size());
    if (number.starts_with(kRecoveryMark)) number.remove_prefix(1);  // a recovery piece's
    Require(IsDecimalFromOne(number), "a piece's number is decimal from 1 without leading zeros");
}

void CheckStartPath(const std::vector<std::string>& arguments) {
    std::vector<const char*> pointers;
    for (const auto& argument : arguments) pointers.push_back(argument.c_str());
    const auto path = tessel::ui::StartPath(pointers);
    const auto first = std::ranges::find_if(
        arguments, [](const std::string& a) { return !a.empty() && a.front() != '-'; });
    Require(path.has_value() == (first != arguments.end()), "a path is found when one is given");
    if (path) Require(*path == *first, "the first argument that is no option is the path");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto number = input.ConsumeIntegralInRange<std::int64_t>(1, tessel::kMaxPieces);
    const std::string extension = input.ConsumeRandomLengthString(kMaxExtensionLength);
    std::vector<std::string> arguments(input.ConsumeIntegralInRange<std::size_t>(0, kMaxArguments));
    for (auto& argument : arguments) {
        argument = input.ConsumeRandomLengthString(kMaxArgumentLength);
        argument = argument.substr(0, argument.find('\0'));  // as a C string holds it
    }
    const std::string path = input.ConsumeRemainingBytesAsString();

    CheckStartPath(arguments);
    CheckFieldText(path, extension);
    CheckFieldText(path, ".BRK");
    if (!tessel::FileNamePart(path, '/').empty()) {
        Require(tessel::ui::FileFieldText(tessel::PieceName(path, number, ".BRK"), ".BRK") == path,
                "a piece gives the name it belongs to");
        const auto j = 1 + number % tessel::kMaxRecoveryPieces;
        Require(
            tessel::ui::FileFieldText(tessel::RecoveryPieceName(path, j, ".BRK"), ".BRK") == path,
            "a recovery piece gives the name it belongs to");
        Require(tessel::ui::FileFieldText(path + tessel::kChecksumSuffix, ".BRK") == path,
                "a checksum file gives the name it belongs to");
    }
    return 0;
}
