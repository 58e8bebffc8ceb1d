#include "engine/split.h"

#include <optional>

#include "engine/messages.h"
#include "engine/piece_naming.h"
#include "engine/stream_copy.h"

namespace tessel {
namespace {

constexpr char kCrLf[] = "\r\n";

// An unexpected error: the split could not be carried out at all.
bool FailSplit(SharedSettings& settings, const std::string& path) {
    settings.InfoMessage = messages::kSplitFailedInfoOpen + path + messages::kFailedInfoClose;
    settings.StatusMessage = messages::kSplitFailed;
    return false;
}

// A piece could not be made or written: the summary stays in InfoMessage, and the status line
// must still say that the split failed.
bool FailWritingPieces(SharedSettings& settings) {
    settings.StatusMessage = messages::kSplitFailed;
    return false;
}

std::int64_t PiecesNeeded(std::int64_t size, std::int64_t chunk) {
    if (size == 0) return 1;  // an empty input still gets its one (empty) piece
    return size / chunk + (size % chunk != 0 ? 1 : 0);
}

// The text the information dialog shows before anything is written; nothing when the file
// needs more pieces than a split may write.
std::optional<std::string> Summary(const std::string& path, std::int64_t size, std::int64_t chunk,
                                   double quotient) {
    const std::string sizeLine = "Size of file  : " + std::to_string(size) + " bytes  " + kCrLf;
    if (quotient < 1.0)
        return "Selected file : " + path + kCrLf + sizeLine + " This will require only One file";
    const std::int64_t pieces = PiecesNeeded(size, chunk);
    if (pieces > kMaxPieces) return std::nullopt;
    return "Selected File : " + path + kCrLf + sizeLine + " This will require " +
           std::to_string(pieces) + " Files.";
}

// Removes the pieces of an older split that stand directly after the last piece written, so a
// later join cannot append them.
bool DeleteStalePieces(const SharedSettings& settings, const std::string& base,
                       std::int64_t lastWritten, platform::FileSystem& files) {
    for (std::int64_t n = lastWritten + 1;; ++n) {
        const std::string piece = PieceName(base, n, settings.PieceExtension);
        if (!files.IsOrdinaryFile(piece)) return true;
        if (!files.DeleteFile(piece)) return false;
    }
}

// The empty file that a join later names, left in the output folder and held locked while the
// pieces are written, so that no join reads a half-written set of pieces.
struct Placeholder {
    std::unique_ptr<platform::File> lock;  // none where it is the input, or cannot be opened
    bool heldElsewhere = false;            // another open holds it, as a running join does
};

Placeholder HoldPlaceholder(const std::string& base, const std::string& input,
                            platform::FileSystem& files) {
    // Where the placeholder is the input itself, the input's own lock keeps joins out.
    if (files.IsSameFile(base, input)) return {};
    Placeholder placeholder{files.OpenExclusive(base)};
    placeholder.heldElsewhere = !placeholder.lock && files.IsLocked(base);
    return placeholder;
}

bool WritePieces(SharedSettings& settings, const std::string& path, std::int64_t size,
                 const ProgressCallback& progress, platform::FileSystem& files) {
    const std::int64_t chunk = settings.ChunkSize;
    files.CreateDirectory(settings.OutputFolder);
    const std::string base = JoinPath(settings.OutputFolder, FileNamePart(path));
    const Placeholder placeholder = HoldPlaceholder(base, path, files);
    if (placeholder.heldElsewhere || chunk < 0) return FailSplit(settings, path);

    const auto input = files.OpenForReading(path);
    if (!input) {
        settings.StatusMessage = messages::kSplitCannotOpenInput;
        return false;
    }
    StreamCopier copier(size, progress);
    const std::int64_t pieces = PiecesNeeded(size, chunk);
    for (std::int64_t n = 1; n <= pieces; ++n) {
        const std::string piece = PieceName(base, n, settings.PieceExtension);
        if (files.IsOrdinaryFile(piece) && !files.DeleteFile(piece))
            return FailSplit(settings, path);
        const auto output = files.OpenExclusive(piece);
        if (!output) return FailWritingPieces(settings);
        const std::int64_t length = n < pieces ? chunk : size - (n - 1) * chunk;
        const auto copied = copier.Copy(*input, *output, length);
        if (copied.status == platform::CopyResult::Status::WriteFailed || !output->Flush())
            return FailWritingPieces(settings);
        if (copied.status == platform::CopyResult::Status::ReadFailed || copied.copied != length)
            return FailSplit(settings, path);  // the input could not be read whole
    }
    if (!DeleteStalePieces(settings, base, pieces, files)) return FailSplit(settings, path);
    settings.StatusMessage = messages::kSplitSucceeded;
    return true;
}

}  // namespace

bool SplitFile(SharedSettings& settings, const std::string& inputPath, InfoDialog& dialog,
               const ProgressCallback& progress, platform::FileSystem& files) {
    const std::string path = inputPath;
    settings.StatusMessage.clear();
    const std::int64_t chunk = settings.ChunkSize;
    const auto size = files.FileLength(path);
    if (!size || chunk == 0) return FailSplit(settings, path);

    const double quotient = static_cast<double>(*size) / static_cast<double>(chunk);
    settings.PieceCount = quotient;
    auto summary = Summary(path, *size, chunk, quotient);
    if (!summary) return FailSplit(settings, path);
    settings.InfoMessage = std::move(*summary);

    dialog.ShowModal(settings.InfoMessage);
    return WritePieces(settings, path, *size, progress, files);
}

}  // namespace tessel
