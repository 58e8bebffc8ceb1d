// The DOS batch file that rebuilds a split file with "copy /b" where Tessel is not installed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/shared_settings.h"
#include "platform/file_system.h"

namespace tessel {

struct BatchRequest {
    std::string fileNameField;  // the file-name field's text: its file name, trimmed, names it
    std::string outputFolder;
    std::string extension = kDefaultPieceExtension;
    double pieceCount = 0.0;  // the last split's size / chunk size
};

struct BatchResult {
    // The pieces listed: the piece count rounded up, at least one; nothing where the writer did
    // not get as far as working it out.
    std::optional<double> pieces;
    // The information message that tells of a failure; nothing when the file was written.
    std::optional<std::string> failure;
};

// Writes <name>.bat into the output folder, listing as many pieces as the piece count rounded
// up (at least one).
BatchResult WriteBatch(const BatchRequest& request,
                       platform::FileSystem& files = platform::DefaultFileSystem());

// The batch file for the split the settings describe: the rounded count is stored back in
// PieceCount, and a failure is reported in InfoMessage only.
void WriteMergeBatch(SharedSettings& settings, const std::string& fileNameField,
                     platform::FileSystem& files = platform::DefaultFileSystem());

}  // namespace tessel
