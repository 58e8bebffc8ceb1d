#include "engine/split.h"

#include <span>
#include <vector>

#include "engine/checksum.h"
#include "engine/copy_loop.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"

namespace tessel {
namespace {

using platform::EntryKind;

constexpr char kCrLf[] = "\r\n";

// An unexpected error: the split could not be carried out at all.
Outcome FailSplit(SharedSettings& settings, const std::string& path) {
    settings.InfoMessage = messages::kSplitFailedInfoOpen + path + messages::kFailedInfoClose;
    settings.StatusMessage = messages::kSplitFailed;
    return Outcome::Failed;
}

// A piece could not be made or written: the summary stays in InfoMessage, and the status line
// must still say that the split failed.
Outcome FailWritingPieces(SharedSettings& settings) {
    settings.StatusMessage = messages::kSplitFailed;
    return Outcome::Failed;
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

std::string BaseOf(const SharedSettings& settings, const std::string& inputPath) {
    return JoinPath(settings.OutputFolder, FileNamePart(inputPath));
}

// An empty input named like a set whose pieces hold data is the placeholder a split left
// beside them: splitting it would replace the whole set by one empty piece.
bool IsPlaceholderOfASet(const SharedSettings& settings, const std::string& inputPath,
                         platform::FileSystem& files) {
    const std::string base = BaseOf(settings, inputPath);
    for (std::int64_t n = 1; n <= kMaxPieces; ++n) {
        const auto length = files.FileLength(PieceName(base, n, settings.PieceExtension));
        if (!length) return false;
        if (*length > 0) return true;
    }
    return false;
}

// Makes room for a file the split is about to create: an old regular file of that name goes,
// anything else there (a link above all) stops the split and is left untouched.
bool ClearName(const std::string& path, platform::FileSystem& files) {
    switch (files.KindOf(path)) {
        case EntryKind::Missing:
            return true;
        case EntryKind::RegularFile:
            return files.DeleteFile(path);
        case EntryKind::Link:
        case EntryKind::Other:
            return false;
    }
    return false;
}

// Removes the pieces of an older split that stand directly after the last piece written, so a
// later join cannot append them. Only regular files are removed; a link ends the run.
bool DeleteStalePieces(const SharedSettings& settings, const std::string& base,
                       std::int64_t lastWritten, platform::FileSystem& files) {
    for (std::int64_t n = lastWritten + 1;; ++n) {
        const std::string piece = PieceName(base, n, settings.PieceExtension);
        if (files.KindOf(piece) != EntryKind::RegularFile) return true;
        if (!files.DeleteFile(piece)) return false;
    }
}

// One run of the writing step: what it holds open and what it has made, so that a cancel can
// take back exactly what this run wrote.
class SplitRun {
  public:
    SplitRun(SharedSettings& settings, const SplitPlan& plan, const OperationControl& control,
             platform::FileSystem& files)
        : settings_(settings),
          plan_(plan),
          control_(control),
          files_(files),
          base_(BaseOf(settings, plan.inputPath)),
          checksumPath_(base_ + kChecksumSuffix),
          permissions_(files.PermissionsOf(plan.inputPath).value_or(platform::kDefaultPermissions) &
                       platform::kDefaultPermissions) {}

    Outcome Run() {
        if (plan_.chunk < 0) return Fail();
        files_.CreateDirectory(settings_.OutputFolder);
        if (!HoldPlaceholder()) return Fail();

        const auto input = files_.OpenForReading(plan_.inputPath);
        if (!input) {
            settings_.StatusMessage = messages::kSplitCannotOpenInput;
            return Outcome::Failed;
        }
        if (const Outcome started = StartChecksumFile(); started != Outcome::Done) return started;
        CopyLoop copier(plan_.size, control_, true);
        for (std::int64_t n = 1; n <= plan_.pieces; ++n) {
            const Outcome outcome = WritePiece(n, *input, copier);
            if (outcome != Outcome::Done) return outcome;
        }
        if (!checksum_->Flush()) return FailWritingPieces(settings_);
        if (!DeleteStalePieces(settings_, base_, plan_.pieces, files_)) return Fail();
        settings_.StatusMessage = messages::kSplitSucceeded;
        return Outcome::Done;
    }

  private:
    Outcome Fail() { return FailSplit(settings_, plan_.inputPath); }

    // The empty file that a join later names, left in the output folder and held locked while
    // the pieces are written, so that no join reads a half-written set. Where it is the input
    // itself, the input's own lock keeps joins out.
    bool HoldPlaceholder() {
        if (files_.IsSameFile(base_, plan_.inputPath)) return true;
        const EntryKind kind = files_.KindOf(base_);
        if (kind == EntryKind::Link) return false;
        placeholder_ = files_.OpenOrCreate(base_, permissions_);
        createdPlaceholder_ = placeholder_ != nullptr && kind == EntryKind::Missing;
        // One that cannot be made is no reason to stop, unless a running join holds it.
        return placeholder_ != nullptr || !files_.IsLocked(base_);
    }

    // The checksum file of an older split goes first; the new one opens with the count of
    // pieces, so that it tells a set cut short by a failure from a whole one.
    // A checksum file that cannot be made or written fails the split as a piece would.
    Outcome StartChecksumFile() {
        if (!ClearName(checksumPath_, files_)) return Fail();
        checksum_ = files_.CreateNew(checksumPath_, permissions_);
        const ChecksumHeader header{FileNamePart(plan_.inputPath), plan_.size, plan_.chunk,
                                    plan_.pieces};
        if (!checksum_ || !WriteLine(ChecksumHeaderLine(header)))
            return FailWritingPieces(settings_);
        return Outcome::Done;
    }

    Outcome WritePiece(std::int64_t n, platform::File& input, CopyLoop& copier) {
        if (control_.Cancelled()) return Cancel();
        const std::string piece = PieceName(base_, n, settings_.PieceExtension);
        if (!ClearName(piece, files_)) return Fail();
        const auto output = files_.CreateNew(piece, permissions_);
        if (!output) return FailWritingPieces(settings_);
        written_.push_back(piece);
        const std::int64_t length =
            n < plan_.pieces ? plan_.chunk : plan_.size - (n - 1) * plan_.chunk;
        switch (copier.Copy(input, *output, length)) {
            case CopyStatus::Done:
                break;
            case CopyStatus::Cancelled:
                return Cancel();
            case CopyStatus::OutputFailed:
                return FailWritingPieces(settings_);
            case CopyStatus::InputShort:
            case CopyStatus::InputFailed:
                return Fail();  // the input could not be read whole
        }
        // The piece is on the medium before its line is written, so the list never names a
        // piece that a power cut could take back; the hashing thread finishes meanwhile.
        if (!output->Flush()) return FailWritingPieces(settings_);
        if (!WriteLine(ChecksumLine(copier.NextDigest(), FileNamePart(piece))))
            return FailWritingPieces(settings_);
        return Outcome::Done;
    }

    // Adds a line to the checksum file at once, where every reader sees it and a killed split
    // leaves it; the file is flushed to the medium once, when the last piece is written. A power
    // cut before that can only take lines away, and the file then says it is incomplete.
    bool WriteLine(const std::string& line) {
        return checksum_->Write(std::as_bytes(std::span(line.data(), line.size())));
    }

    // Takes back what this run wrote: its pieces, its checksum file, and the placeholder when
    // this run made it.
    Outcome Cancel() {
        for (const auto& piece : written_) files_.DeleteFile(piece);
        checksum_.reset();
        files_.DeleteFile(checksumPath_);
        if (createdPlaceholder_) {
            placeholder_.reset();
            files_.DeleteFile(base_);
        }
        settings_.StatusMessage = messages::kSplitCancelled;
        return Outcome::Cancelled;
    }

    SharedSettings& settings_;
    const SplitPlan& plan_;
    const OperationControl& control_;
    platform::FileSystem& files_;
    const std::string base_;
    const std::string checksumPath_;
    const platform::Permissions permissions_;
    std::unique_ptr<platform::File> placeholder_;
    bool createdPlaceholder_ = false;
    std::unique_ptr<platform::File> checksum_;
    std::vector<std::string> written_;
};

}  // namespace

SplitCheck CheckSplit(SharedSettings& settings, const std::string& inputPath,
                      platform::FileSystem& files) {
    const std::string& path = inputPath;
    settings.StatusMessage.clear();
    const std::int64_t chunk = settings.ChunkSize;
    const auto size = files.FileLength(path);
    if (!size || chunk == 0) {
        FailSplit(settings, path);
        return {};
    }
    if (*size == 0 && IsPlaceholderOfASet(settings, path, files)) {
        settings.StatusMessage = messages::kSplitOfPlaceholder;
        return {std::nullopt, true};
    }

    const double quotient = static_cast<double>(*size) / static_cast<double>(chunk);
    settings.PieceCount = quotient;
    auto summary = Summary(path, *size, chunk, quotient);
    if (!summary) {
        FailSplit(settings, path);
        return {};
    }
    settings.InfoMessage = std::move(*summary);
    const std::int64_t pieces = chunk < 0 ? 1 : PiecesNeeded(*size, chunk);
    return {SplitPlan{path, *size, chunk, pieces}};
}

Outcome WriteSplit(SharedSettings& settings, const SplitPlan& plan, const OperationControl& control,
                   platform::FileSystem& files) {
    settings.StatusMessage.clear();
    return SplitRun(settings, plan, control, files).Run();
}

bool SplitFile(SharedSettings& settings, const std::string& inputPath,
               const OperationControl& control, platform::FileSystem& files) {
    const SplitCheck check = CheckSplit(settings, inputPath, files);
    return check.plan && WriteSplit(settings, *check.plan, control, files) == Outcome::Done;
}

}  // namespace tessel
