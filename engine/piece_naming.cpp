#include "engine/piece_naming.h"

#include <algorithm>
#include <charconv>

namespace tessel {
namespace {

constexpr std::size_t kLongestNumberDigits = 18;  // always fits a signed 64-bit number

bool IsDecimalFromOne(std::string_view digits) {
    return !digits.empty() && digits.front() != '0' &&
           std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string FileNamePart(std::string_view path, char separator) {
    const auto last = path.rfind(separator);
    return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

std::string FolderOf(std::string_view path, char separator) {
    const auto last = path.rfind(separator);
    if (last == std::string_view::npos) return ".";
    return std::string(path.substr(0, last == 0 ? 1 : last));
}

std::string JoinPath(std::string_view folder, std::string_view name, char separator) {
    std::string path(folder);
    path += separator;
    path += name;
    return path;
}

std::string PieceName(std::string_view base, std::int64_t n, std::string_view extension) {
    std::string name(base);
    name += '.';
    name += std::to_string(n);
    name += extension;
    return name;
}

std::optional<PieceOf> ParsePieceName(std::string_view name, std::string_view extension) {
    if (extension.empty() || !name.ends_with(extension)) return std::nullopt;
    const auto numbered = name.substr(0, name.size() - extension.size());
    const auto dot = numbered.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const auto digits = numbered.substr(dot + 1);
    if (!IsDecimalFromOne(digits)) return std::nullopt;
    std::int64_t number = INT64_MAX;
    if (digits.size() <= kLongestNumberDigits)
        std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return PieceOf{numbered.substr(0, dot), number};
}

std::int64_t PiecesNeeded(std::int64_t size, std::int64_t chunk) {
    if (size == 0) return 1;
    return size / chunk + (size % chunk != 0 ? 1 : 0);
}

std::int64_t PieceLength(std::int64_t size, std::int64_t chunk, std::int64_t n) {
    const std::int64_t pieces = PiecesNeeded(size, chunk);
    return n < pieces ? chunk : size - (pieces - 1) * chunk;
}

std::string_view TrimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace tessel
