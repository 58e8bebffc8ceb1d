#include "ui/start_path.h"

#include "engine/checksum.h"
#include "engine/piece_naming.h"

namespace tessel::ui {
namespace {

// NAME of a piece NAME.N<extension>, or nothing when `path` is not named like one.
std::optional<std::string_view> PieceBase(std::string_view path, std::string_view extension) {
    const auto piece = ParsePieceName(path, extension);
    if (!piece) return std::nullopt;
    return piece->base;
}

// NAME of a checksum file NAME.sha256, or nothing.
std::optional<std::string_view> ChecksumBase(std::string_view path) {
    if (!path.ends_with(kChecksumSuffix)) return std::nullopt;
    return path.substr(0, path.size() - std::string_view(kChecksumSuffix).size());
}

}  // namespace

std::optional<std::string> StartPath(std::span<const char* const> arguments) {
    for (const char* argument : arguments) {
        const std::string_view text = argument == nullptr ? "" : argument;
        if (!text.empty() && !text.starts_with('-')) return std::string(text);
    }
    return std::nullopt;
}

std::string FileFieldText(std::string_view path, std::string_view pieceExtension) {
    auto base = PieceBase(path, pieceExtension);
    if (!base) base = ChecksumBase(path);
    if (base && !FileNamePart(*base).empty()) return std::string(*base);
    return std::string(path);
}

}  // namespace tessel::ui
