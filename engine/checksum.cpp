#include "engine/checksum.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <charconv>
#include <stdexcept>
#include <utility>

#include "engine/messages.h"
#include "engine/recovery_code.h"

namespace tessel {
namespace {

constexpr auto& kHeaderOpen = product::kChecksumHeader;
constexpr std::size_t kHexDigits = 64;
constexpr char kHex[] = "0123456789abcdef";
constexpr std::string_view kTagOpen = "SHA256 (";
constexpr std::string_view kTagClose = ") = ";
constexpr std::size_t kListReadBytes = 64 * 1024;  // read at a time from a checksum file

// sha256sum's escaping: a name holding a backslash, a line feed or a carriage return is written
// with those escaped, and its line then starts with a backslash.
bool NeedsEscape(std::string_view name) {
    return name.find_first_of("\\\n\r") != std::string_view::npos;
}

std::string Escape(std::string_view name) {
    std::string escaped;
    for (const char c : name) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
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
        else if (text[i] == 'r')
            name += '\r';
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
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
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

// Takes `key` and a word (up to the next blank) off the front of `text`.
std::optional<std::string> TakeWord(std::string_view& text, std::string_view key) {
    if (!text.starts_with(key)) return std::nullopt;
    text.remove_prefix(key.size());
    const auto word = text.substr(0, text.find(' '));
    text.remove_prefix(word.size());
    if (word.empty()) return std::nullopt;
    return std::string(word);
}

std::optional<ChecksumHeader> ParseHeader(std::string_view line) {
    if (!IsTesselHeader(line)) return std::nullopt;
    line.remove_prefix(sizeof kHeaderOpen - 1);
    const auto size = TakeNumber(line, " size=");
    const auto chunk = size ? TakeNumber(line, " chunk=") : std::nullopt;
    const auto pieces = chunk ? TakeNumber(line, " pieces=") : std::nullopt;
    if (!pieces || *chunk <= 0 || *pieces > kMaxPieces || *pieces != PiecesNeeded(*size, *chunk))
        return std::nullopt;
    ChecksumHeader header;
    header.size = *size;
    header.chunk = *chunk;
    header.pieces = *pieces;
    if (line.starts_with(" recovery=")) {
        const auto recovery = TakeNumber(line, " recovery=");
        auto code = recovery ? TakeWord(line, " code=") : std::nullopt;
        if (!code || *recovery < 1 || *recovery > kMaxRecoveryPieces ||
            !RecoveryCode::FromName(*code, static_cast<int>(*pieces), static_cast<int>(*recovery),
                                    PieceLength(*size, *chunk, 1)))
            return std::nullopt;
        header.recovery = *recovery;
        header.code = std::move(*code);
    }
    if (!line.starts_with(" name=")) return std::nullopt;
    auto name = Unescape(line.substr(6));
    if (!name) return std::nullopt;
    header.name = std::move(*name);
    return header;
}

struct PieceLine {
    Digest digest;
    std::string name;
};

// A line as sha256sum writes it: the digest, a blank and a blank or "*", the name; or the
// tagged form "SHA256 (name) = digest". A leading backslash says the name is escaped.
std::optional<PieceLine> ParsePieceLine(std::string_view line) {
    const bool escaped = line.starts_with('\\');
    if (escaped) line.remove_prefix(1);
    std::string_view hex;
    std::string_view name;
    if (line.starts_with(kTagOpen)) {
        const auto close = line.rfind(kTagClose);
        if (close == std::string_view::npos || close < kTagOpen.size()) return std::nullopt;
        name = line.substr(kTagOpen.size(), close - kTagOpen.size());
        hex = line.substr(close + kTagClose.size());
    } else {
        if (line.size() < kHexDigits + 2 || line[kHexDigits] != ' ' ||
            (line[kHexDigits + 1] != ' ' && line[kHexDigits + 1] != '*'))
            return std::nullopt;
        hex = line.substr(0, kHexDigits);
        name = line.substr(kHexDigits + 2);
    }
    const auto digest = FromHex(hex);
    auto unescaped = escaped ? Unescape(name) : std::optional<std::string>(name);
    if (!digest || !unescaped) return std::nullopt;
    return PieceLine{*digest, std::move(*unescaped)};
}

// OpenSSL's SHA-256, fetched once for every hash. OpenSSL is not to read its configuration file
// for it: all a configuration could change is which provider makes the digest, and SHA-256 is
// the same from each, while reading and parsing the file is paid at every start.
const EVP_MD* Sha256Method() {
    static const EVP_MD* const method = [] {
        OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
        return EVP_MD_fetch(nullptr, "SHA256", nullptr);
    }();
    return method;
}

}  // namespace

struct Sha256::Context {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (context_->context == nullptr ||
        EVP_DigestInit_ex(context_->context, Sha256Method(), nullptr) != 1)
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
    EVP_DigestInit_ex(context_->context, Sha256Method(), nullptr);
    return digest;
}

std::string ChecksumHeaderLine(const ChecksumHeader& header) {
    std::string line = std::string(kHeaderOpen) + " size=" + std::to_string(header.size) +
                       " chunk=" + std::to_string(header.chunk) +
                       " pieces=" + std::to_string(header.pieces);
    if (header.recovery > 0)
        line += " recovery=" + std::to_string(header.recovery) + " code=" + header.code;
    return line + " name=" + Escape(header.name) + "\n";
}

bool IsTesselHeader(std::string_view firstLine) {
    return firstLine.starts_with(kHeaderOpen);
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

ChecksumListReader::ChecksumListReader(std::string_view name, std::string_view extension)
    : name_(name), extension_(extension) {}

bool ChecksumListReader::AddLine(std::string_view line) {
    if (!understood_) return false;
    if (line.ends_with('\r')) line.remove_suffix(1);
    const bool first = std::exchange(first_, false);
    if (std::ssize(line) > kMaxChecksumLineBytes) return understood_ = false;
    if (first && IsTesselHeader(line)) {
        header_ = ParseHeader(line);
        return understood_ = header_ && header_->name == name_;
    }
    if (line.empty() || line.starts_with('#')) return true;
    return understood_ = AddPieceLine(line);
}

bool ChecksumListReader::AddPieceLine(std::string_view line) {
    const auto parsed = ParsePieceLine(line);
    if (!parsed) return false;
    const auto piece = ParsePieceName(parsed->name, extension_);
    if (!piece || piece->base != name_ || piece->number > kMaxPieces) return false;
    if (piece->recovery) {
        // Only Tessel's list names recovery pieces: in order, once every piece is listed.
        if (!header_ || std::ssize(digests_) != header_->pieces ||
            piece->number != std::ssize(recoveryDigests_) + 1 || piece->number > header_->recovery)
            return false;
        recoveryDigests_.push_back(parsed->digest);
        return true;
    }
    const auto index = static_cast<std::size_t>(piece->number - 1);
    if (header_) {
        // Tessel's list names the pieces in order, one line each, as many as its header says.
        if (index != digests_.size() || piece->number > header_->pieces) return false;
    } else if (index < digests_.size() && digests_[index]) {
        return false;  // a piece listed twice
    }
    if (index >= digests_.size()) digests_.resize(index + 1);
    digests_[index] = parsed->digest;
    return true;
}

ListReading ChecksumListReader::Finish(ChecksumList& list) {
    if (!understood_) return ListReading::NotUnderstood;
    if (header_ && (std::ssize(digests_) < header_->pieces ||
                    std::ssize(recoveryDigests_) < header_->recovery))
        return ListReading::Incomplete;
    if (digests_.empty()) return ListReading::NotUnderstood;
    list.header = header_;
    list.recoveryDigests = recoveryDigests_;
    list.digests.clear();
    for (const auto& digest : digests_) {
        if (!digest) return ListReading::NotUnderstood;  // a gap in the numbers listed
        list.digests.push_back(*digest);
    }
    return ListReading::Complete;
}

ListReading ReadChecksumFile(platform::Folder& folder, const std::string& listName,
                             std::string_view name, std::string_view extension,
                             ChecksumList& list) {
    const auto file = folder.OpenForReading(listName, platform::Follow::No);
    if (!file) return ListReading::NotUnderstood;
    const auto info = file->Info();
    if (info.kind != platform::EntryKind::RegularFile || info.length > kMaxChecksumFileBytes)
        return ListReading::NotUnderstood;
    ChecksumListReader reader(name, extension);
    std::string block(kListReadBytes, '\0');
    std::string line;
    for (;;) {
        const auto got = file->Read(std::as_writable_bytes(std::span(block)));
        if (!got) return ListReading::NotUnderstood;
        if (*got == 0) break;
        for (const char c : std::string_view(block.data(), *got)) {
            if (c != '\n') {
                if (std::ssize(line) > kMaxChecksumLineBytes) return ListReading::NotUnderstood;
                line += c;
                continue;
            }
            if (!reader.AddLine(line)) return ListReading::NotUnderstood;
            line.clear();
        }
    }
    if (!line.empty() && !reader.AddLine(line)) return ListReading::NotUnderstood;
    return reader.Finish(list);
}

ListReading ParseChecksumFile(std::string_view text, std::string_view name,
                              std::string_view extension, ChecksumList& list) {
    ChecksumListReader reader(name, extension);
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (!reader.AddLine(text.substr(0, end))) break;
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return reader.Finish(list);
}

std::optional<std::string_view> ListRefusal(ListReading reading) {
    switch (reading) {
        case ListReading::Complete:
            return std::nullopt;
        case ListReading::Incomplete:
            return messages::kChecksumFileIncomplete;
        case ListReading::NotUnderstood:
            break;
    }
    return messages::kChecksumFileUnreadable;
}

}  // namespace tessel
