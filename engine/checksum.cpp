#include "engine/checksum.h"

#include <openssl/evp.h>

#include <charconv>
#include <stdexcept>

#include "engine/piece_naming.h"

namespace tessel {
namespace {

constexpr char kHeaderOpen[] = "# Tessel checksums:";
constexpr std::size_t kHexDigits = 64;
constexpr char kHex[] = "0123456789abcdef";

// sha256sum's escaping: a name holding a backslash or a line feed is written with those two
// escaped, and its line then starts with a backslash.
bool NeedsEscape(std::string_view name) {
    return name.find_first_of("\\\n") != std::string_view::npos;
}

std::string Escape(std::string_view name) {
    std::string escaped;
    for (const char c : name) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string name;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            name += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        if (text[i] == '\\')
            name += '\\';
        else if (text[i] == 'n')
            name += '\n';
        else
            return std::nullopt;
    }
    return name;
}

std::string Hex(const Digest& digest) {
    std::string hex;
    for (const auto byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0x0f];
    }
    return hex;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // Tessel writes lower case only, and reads back only what it writes
}

std::optional<Digest> FromHex(std::string_view hex) {
    if (hex.size() != kHexDigits) return std::nullopt;
    Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = HexValue(hex[2 * i]);
        const int low = HexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return digest;
}

// Takes `key` and a decimal number (digits only) off the front of `text`.
std::optional<std::int64_t> TakeNumber(std::string_view& text, std::string_view key) {
    if (!text.starts_with(key)) return std::nullopt;
    text.remove_prefix(key.size());
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // Plain decimal as written: no sign, no leading zero.
    if (error != std::errc{} || end == text.data() || text.front() == '-' ||
        (text.front() == '0' && end - text.data() > 1))
        return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

std::int64_t PiecesFor(std::int64_t size, std::int64_t chunk) {
    if (size == 0) return 1;
    return size / chunk + (size % chunk != 0 ? 1 : 0);
}

std::optional<ChecksumHeader> ParseHeader(std::string_view line) {
    if (!line.starts_with(kHeaderOpen)) return std::nullopt;
    line.remove_prefix(sizeof kHeaderOpen - 1);
    ChecksumHeader header;
    const auto size = TakeNumber(line, " size=");
    const auto chunk = size ? TakeNumber(line, " chunk=") : std::nullopt;
    const auto pieces = chunk ? TakeNumber(line, " pieces=") : std::nullopt;
    if (!pieces || !line.starts_with(" name=")) return std::nullopt;
    const auto name = Unescape(line.substr(6));
    if (!name || *chunk <= 0 || *pieces > kMaxPieces || *pieces != PiecesFor(*size, *chunk))
        return std::nullopt;
    return ChecksumHeader{*name, *size, *chunk, *pieces};
}

// One piece's line; nothing unless it holds a digest and exactly `pieceName`.
std::optional<Digest> ParsePieceLine(std::string_view line, std::string_view pieceName) {
    const bool escaped = line.starts_with('\\');
    if (escaped) line.remove_prefix(1);
    if (line.size() < kHexDigits + 2 || line.substr(kHexDigits, 2) != "  ") return std::nullopt;
    const auto name = escaped ? Unescape(line.substr(kHexDigits + 2))
                              : std::optional<std::string>(line.substr(kHexDigits + 2));
    if (!name || *name != pieceName) return std::nullopt;
    return FromHex(line.substr(0, kHexDigits));
}

}  // namespace

struct Sha256::Context {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (context_->context == nullptr ||
        EVP_DigestInit_ex(context_->context, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::byte> bytes) {
    EVP_DigestUpdate(context_->context, bytes.data(), bytes.size());
}

Digest Sha256::Finish() {
    Digest digest{};
    unsigned length = 0;
    EVP_DigestFinal_ex(context_->context, digest.data(), &length);
    EVP_DigestInit_ex(context_->context, EVP_sha256(), nullptr);
    return digest;
}

std::string ChecksumHeaderLine(const ChecksumHeader& header) {
    return std::string(kHeaderOpen) + " size=" + std::to_string(header.size) +
           " chunk=" + std::to_string(header.chunk) + " pieces=" + std::to_string(header.pieces) +
           " name=" + Escape(header.name) + "\n";
}

std::string ChecksumLine(const Digest& digest, std::string_view pieceName) {
    const bool escaped = NeedsEscape(pieceName);
    std::string line = escaped ? "\\" : "";
    line += Hex(digest);
    line += "  ";
    line += escaped ? Escape(pieceName) : std::string(pieceName);
    line += '\n';
    return line;
}

std::optional<ChecksumList> ParseChecksumFile(std::string_view text, std::string_view name,
                                              std::string_view extension) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;  // every line ends in a line feed
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    if (lines.empty()) return std::nullopt;
    auto header = ParseHeader(lines.front());
    if (!header || header->name != name || std::ssize(lines) - 1 != header->pieces)
        return std::nullopt;
    ChecksumList list{std::move(*header), {}};
    for (std::int64_t n = 1; n <= list.header.pieces; ++n) {
        const auto digest =
            ParsePieceLine(lines[static_cast<std::size_t>(n)], PieceName(name, n, extension));
        if (!digest) return std::nullopt;
        list.digests.push_back(*digest);
    }
    return list;
}

std::int64_t ExpectedPieceLength(const ChecksumHeader& header, std::int64_t n) {
    return n < header.pieces ? header.chunk : header.size - (header.pieces - 1) * header.chunk;
}

}  // namespace tessel
