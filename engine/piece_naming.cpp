#include "engine/piece_naming.h"

namespace tessel {

std::string FileNamePart(std::string_view path, char separator) {
    const auto last = path.rfind(separator);
    return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

std::string PieceName(std::string_view base, std::int64_t n, std::string_view extension) {
    std::string name(base);
    name += '.';
    name += std::to_string(n);
    name += extension;
    return name;
}

std::string JoinPath(std::string_view folder, std::string_view name, char separator) {
    std::string path(folder);
    path += separator;
    path += name;
    return path;
}

}  // namespace tessel
