// PieceName on random bases, extensions and numbers: the name is the base, a full stop, the
// number in plain decimal and the extension, and the number can be read back from it.
#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/piece_naming.h"
#include "fuzz/fuzz_check.h"

namespace {

using tessel::fuzz::Require;

// Extensions stay short, as ".BRK" is; the rest of the input is the base.
constexpr std::size_t kMaxExtensionLength = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto number = input.ConsumeIntegral<std::int64_t>();
    const std::string extension = input.ConsumeRandomLengthString(kMaxExtensionLength);
    const std::string base = input.ConsumeRemainingBytesAsString();

    const std::string piece = tessel::PieceName(base, number, extension);
    Require(piece.starts_with(base + "."), "a piece name starts with the base and a full stop");
    Require(piece.ends_with(extension), "a piece name ends with the extension");
    Require(piece.size() > base.size() + 1 + extension.size(), "a piece name holds digits");

    const std::string digits =
        piece.substr(base.size() + 1, piece.size() - base.size() - 1 - extension.size());
    std::int64_t readBack = 0;
    const auto [stop, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), readBack);
    Require(error == std::errc{} && stop == digits.data() + digits.size() && readBack == number,
            "the digits read back as the piece number");
    if (number >= 0) {
        Require(digits.front() != '-' && digits.front() != '+', "a piece number has no sign");
        Require(digits == "0" || digits.front() != '0', "a piece number has no leading zero");
    }
    return 0;
}
