// Utf8ToCp850 on random bytes: the batch file's names pass through it. Checked against the C
// library's own code page 850 converter for well-formed UTF-8, and for any input: no control
// character comes out, and the plain ASCII characters that come out are exactly those that went
// in (a malformed or overlong sequence must not turn into a quote, a "%" or a letter).
#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/oem_codepage.h"
#include "fuzz/fuzz_check.h"

namespace {

using tessel::fuzz::Require;

constexpr char kUnrepresentable = '?';
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);  // iconv_open's refusal

// A C library converter, opened once for the whole run.
iconv_t Converter(const char* to, const char* from) {
    const iconv_t converter = ::iconv_open(to, from);
    Require(converter != kNoConverter, "the C library converts between UTF-8 and code page 850");
    return converter;
}

// All of `text` converted, or nothing when the converter refuses any of it.
std::optional<std::string> Convert(iconv_t converter, std::string_view text) {
    std::string in(text);
    std::string out(text.size() * 4 + 4, '\0');
    char* inPointer = in.data();
    char* outPointer = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (::iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) == static_cast<size_t>(-1))
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

// Printable ASCII other than the replacement mark, in order.
std::string PlainAscii(std::string_view text) {
    std::string plain;
    for (const char c : text)
        if (c >= ' ' && c < '\x7f' && c != kUnrepresentable) plain += c;
    return plain;
}

constexpr wchar_t kLastCode = 0x10FFFF;
constexpr wchar_t kFirstSurrogate = 0xD800;
constexpr wchar_t kLastSurrogate = 0xDFFF;

bool IsUnicodeScalar(wchar_t code) {
    return code >= 0 && code <= kLastCode && (code < kFirstSurrogate || code > kLastSurrogate);
}

// The code page 850 byte of one character (a wchar_t holds one UTF-32 code in the C library)
// as a batch line must hold it.
char ExpectedByte(wchar_t code) {
    static const iconv_t toCp850 = Converter("CP850", "WCHAR_T");
    if (code < 0x20 || code == 0x7f) return kUnrepresentable;
    const std::string one(reinterpret_cast<const char*>(&code), sizeof code);
    const auto converted = Convert(toCp850, one);
    return converted && converted->size() == 1 ? converted->front() : kUnrepresentable;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const iconv_t fromUtf8 = Converter("WCHAR_T", "UTF-8");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string cp850 = tessel::Utf8ToCp850(text);

    for (const char c : cp850)
        Require(c < 0 || (c >= ' ' && c != '\x7f'), "no control character is written");
    Require(PlainAscii(cp850) == PlainAscii(text),
            "plain ASCII comes out exactly as it went in, and from nothing else");

    const auto codes = Convert(fromUtf8, text);
    if (!codes) return 0;  // malformed UTF-8: only the checks above apply
    std::string expected;
    for (std::size_t at = 0; at + sizeof(wchar_t) <= codes->size(); at += sizeof(wchar_t)) {
        wchar_t code = 0;
        codes->copy(reinterpret_cast<char*>(&code), sizeof code, at);
        // The C library also decodes surrogates and codes past Unicode's last, which UTF-8
        // does not hold: such a text counts as malformed.
        if (!IsUnicodeScalar(code)) return 0;
        expected += ExpectedByte(code);
    }
    Require(cp850 == expected, "well-formed UTF-8 becomes the C library's code page 850");
    return 0;
}
