// The path Tessel is started with, as a desktop hands over a double-clicked file, and the text it
// puts in the file field. Free of Qt, so the rules can be fuzzed and tested alone.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tessel::ui {

// The start path among the program's arguments (the program's own name not included): the first
// that is not empty and does not start with "-". Every other argument is ignored.
std::optional<std::string> StartPath(std::span<const char* const> arguments);

// The file field's text for the start path `path`. A piece NAME.N.BRK (N in decimal from 1,
// without leading zeros; ".BRK" being `pieceExtension`) or a checksum file NAME.sha256 gives
// NAME, ready for Join; any other path is taken as it is, ready for Break. NAME must have a file
// name of its own: "folder/.1.BRK" stays as it is.
std::string FileFieldText(std::string_view path, std::string_view pieceExtension);

}  // namespace tessel::ui
