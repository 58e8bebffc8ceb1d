#include "engine/split.h"

#include <algorithm>
#include <span>
#include <vector>

#include "engine/checksum.h"
#include "engine/copy_loop.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"

namespace tessel {
namespace {

using platform::EntryKind;
using platform::Follow;

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

Report SplitFailure(const SplitRequest& request) {
    return Failure(messages::kSplitFailure, request.inputPath);
}

// A piece could not be made or written: the summary stays in the information message, and the
// status line must still say that the split failed.
Report PiecesFailed() {
    return StatusOnly(Outcome::Failed, messages::kSplitFailed);
}

std::string ListName(const std::string& name) {
    return name + kChecksumSuffix;
}

// Whether any piece of `name` (whatever its number) or its checksum file stands in the folder;
// nothing when the folder cannot be listed.
std::optional<bool> AnyOfTheSetStands(platform::Folder& folder, const std::string& name,
                                      const std::string& extension) {
    const auto entries = folder.List();
    if (!entries) return std::nullopt;
    return std::ranges::any_of(*entries, [&](const std::string& entry) {
        const auto piece = ParsePieceName(entry, extension);
        return entry == ListName(name) || (piece && piece->base == name);
    });
}

// What stands under the checksum file's name.
enum class ListSlot { Free, Tessels, Foreign, Blocked, Unknown };

// The first line of a regular file, read through the folder without following a link.
std::optional<std::string> FirstLine(platform::Folder& folder, const std::string& name) {
    const auto file = folder.OpenForReading(name, Follow::No);
    if (!file) return std::nullopt;
    std::string text(static_cast<std::size_t>(kMaxChecksumLineBytes), '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const auto got = file->Read(std::as_writable_bytes(std::span(text)).subspan(filled));
        if (!got) return std::nullopt;
        if (*got == 0) break;
        filled += *got;
        if (text.find('\n') < filled) break;
    }
    text.resize(filled);
    return text.substr(0, text.find('\n'));
}

// Only a checksum file that Tessel wrote may be replaced: a list that came with a download, say,
// is another program's.
ListSlot ExamineListSlot(platform::Folder& folder, const std::string& listName) {
    switch (folder.Examine(listName, Follow::No).kind) {
        case EntryKind::Missing:
            return ListSlot::Free;
        case EntryKind::RegularFile:
            break;
        case EntryKind::Unknown:
            return ListSlot::Unknown;
        default:
            return ListSlot::Blocked;
    }
    const auto line = FirstLine(folder, listName);
    if (!line) return ListSlot::Unknown;
    return IsTesselHeader(*line) ? ListSlot::Tessels : ListSlot::Foreign;
}

// The longest name a split of `pieces` pieces writes: the checksum file's or the last piece's
// (the batch file's, NAME.bat, is shorter than the checksum file's).
std::int64_t LongestName(const std::string& name, std::int64_t pieces,
                         const std::string& extension) {
    return std::max(std::ssize(ListName(name)), std::ssize(PieceName(name, pieces, extension)));
}

// The folder the pieces go to, or where it does not exist yet, the one it will be made in.
std::unique_ptr<platform::Folder> FolderOrParent(const std::string& outputFolder,
                                                 platform::FileSystem& files) {
    if (auto folder = files.OpenFolder(outputFolder)) return folder;
    return files.OpenFolder(FolderOf(outputFolder));
}

// What the output folder holds that stops the split before anything is written. Done when
// nothing does.
Report CheckOutputFolder(const SplitRequest& request, std::int64_t size, std::int64_t pieces,
                         platform::FileSystem& files) {
    const std::string name = FileNamePart(request.inputPath);
    const auto folderInfo = files.Examine(request.outputFolder, Follow::Yes);
    if (folderInfo.kind == EntryKind::Unknown) return SplitFailure(request);
    auto folder = files.OpenFolder(request.outputFolder);
    if (folder == nullptr && folderInfo.kind == EntryKind::Folder) return SplitFailure(request);
    if (folder != nullptr) {
        // An empty input named like a set that stands there is the placeholder a split left
        // beside its pieces: splitting it would replace the whole set by one empty piece.
        if (size == 0) {
            const auto setStands = AnyOfTheSetStands(*folder, name, request.extension);
            if (!setStands) return SplitFailure(request);
            if (*setStands) return StatusOnly(Outcome::Refused, messages::kSplitOfPlaceholder);
        }
        switch (ExamineListSlot(*folder, ListName(name))) {
            case ListSlot::Free:
            case ListSlot::Tessels:
                break;
            case ListSlot::Foreign:
                return StatusOnly(Outcome::Refused, messages::kSplitOverForeignList);
            case ListSlot::Blocked:
            case ListSlot::Unknown:
                return SplitFailure(request);
        }
    }
    // Where neither the folder nor the one it is to be made in opens, the writing fails anyway.
    if (const auto where =
            folder ? std::move(folder) : FolderOrParent(request.outputFolder, files)) {
        const auto nameMax = where->NameMax();
        if (!nameMax) return SplitFailure(request);
        if (LongestName(name, pieces, request.extension) > *nameMax)
            return StatusOnly(Outcome::Refused, messages::kSplitNameTooLong);
    }
    return {};
}

// Makes room for a file the split is about to create: an old regular file of that name goes,
// anything else there (a link above all) stops the split and is left untouched.
bool ClearName(platform::Folder& folder, const std::string& name) {
    switch (folder.Examine(name, Follow::No).kind) {
        case EntryKind::Missing:
            return true;
        case EntryKind::RegularFile:
            return folder.Remove(name);
        default:
            return false;
    }
}

// Removes the pieces of an older split that stand directly after the last piece written, so a
// later join cannot append them. Only regular files are removed; anything else ends the run,
// and a name that cannot be looked at fails the split.
bool DeleteStalePieces(platform::Folder& folder, const std::string& name,
                       const std::string& extension, std::int64_t lastWritten) {
    for (std::int64_t n = lastWritten + 1;; ++n) {
        const std::string piece = PieceName(name, n, extension);
        const EntryKind kind = folder.Examine(piece, Follow::No).kind;
        if (kind == EntryKind::Unknown) return false;
        if (kind != EntryKind::RegularFile) return true;
        if (!folder.Remove(piece)) return false;
    }
}

// One run of the writing step: what it holds open and what it has made, so that a cancel can
// take back exactly what this run wrote.
class SplitRun {
  public:
    SplitRun(const SplitPlan& plan, const OperationControl& control, platform::FileSystem& files)
        : plan_(plan),
          request_(plan.request),
          control_(control),
          files_(files),
          name_(FileNamePart(request_.inputPath)),
          listName_(ListName(name_)) {}

    SplitResult Run() {
        if (request_.chunk < 0) return Fail();
        files_.CreateDirectory(request_.outputFolder);
        folder_ = files_.OpenFolder(request_.outputFolder);
        if (folder_ == nullptr) return Result(PiecesFailed());
        const auto inputInfo = files_.Examine(request_.inputPath, Follow::Yes);
        if (inputInfo.kind != EntryKind::RegularFile) return Fail();
        const auto placeholderInfo = folder_->Examine(name_, Follow::Yes);
        if (placeholderInfo.kind == EntryKind::Unknown) return Fail();
        // No one may read the pieces who may not read the file they come from.
        permissions_ = inputInfo.permissions & platform::kPermissionBits;

        // Split into its own folder, the input is the placeholder: held against everyone else,
        // it keeps a second split of it and any join out.
        const bool inputIsPlaceholder = platform::SameFile(inputInfo, placeholderInfo);
        if (!inputIsPlaceholder && !HoldPlaceholder()) return Fail();
        const auto input = files_.OpenForReading(request_.inputPath, inputIsPlaceholder);
        if (!input) return Result(StatusOnly(Outcome::Failed, messages::kSplitCannotOpenInput));
        if (!platform::SameFile(input->Info(), inputInfo)) return Fail();

        if (const auto started = StartChecksumFile(); !started.Done()) return Result(started);
        CopyLoop copier(plan_.size, control_, true);
        for (std::int64_t n = 1; n <= plan_.pieces; ++n) {
            const Report written = WritePiece(n, *input, copier);
            if (!written.Done()) return Result(written);
        }
        if (!checksum_->Flush()) return Result(PiecesFailed());
        if (!DeleteStalePieces(*folder_, name_, request_.extension, plan_.pieces)) return Fail();
        return Result(StatusOnly(Outcome::Done, messages::kSplitSucceeded));
    }

  private:
    SplitResult Result(Report report) const {
        return SplitResult{std::move(report), piecesDone_, bytesDone_};
    }
    SplitResult Fail() const { return Result(SplitFailure(request_)); }

    // The empty file that a join later names, left in the output folder and held locked while
    // the pieces are written, so that no join reads a half-written set and no second split of
    // the same file writes beside this one. One that cannot be made is no reason to stop, unless
    // another split or a join holds it, or a link stands there.
    bool HoldPlaceholder() {
        const auto kind = folder_->Examine(name_, Follow::No).kind;
        if (kind == EntryKind::Link || kind == EntryKind::Unknown) return false;
        placeholder_ = folder_->OpenOrCreate(name_, permissions_);
        createdPlaceholder_ = placeholder_ != nullptr && kind == EntryKind::Missing;
        return placeholder_ != nullptr || !folder_->IsLocked(name_);
    }

    // The checksum file of an older split goes first; the new one opens with the count of
    // pieces, so that it tells a set cut short by a failure from a whole one. Another program's
    // list is never removed. A checksum file that cannot be made or written fails the split as a
    // piece would.
    Report StartChecksumFile() {
        switch (ExamineListSlot(*folder_, listName_)) {
            case ListSlot::Free:
                break;
            case ListSlot::Tessels:
                if (!folder_->Remove(listName_)) return SplitFailure(request_);
                break;
            case ListSlot::Foreign:
                return StatusOnly(Outcome::Refused, messages::kSplitOverForeignList);
            case ListSlot::Blocked:
            case ListSlot::Unknown:
                return SplitFailure(request_);
        }
        checksum_ = folder_->CreateNew(listName_, permissions_);
        const ChecksumHeader header{name_, plan_.size, request_.chunk, plan_.pieces};
        if (!checksum_ || !WriteLine(ChecksumHeaderLine(header))) return PiecesFailed();
        return {};
    }

    Report WritePiece(std::int64_t n, platform::File& input, CopyLoop& copier) {
        if (control_.Cancelled()) return Cancel();
        const std::string piece = PieceName(name_, n, request_.extension);
        if (!ClearName(*folder_, piece)) return SplitFailure(request_);
        const auto output = folder_->CreateNew(piece, permissions_);
        if (!output) return PiecesFailed();
        written_.push_back(piece);
        const std::int64_t length = PieceLength(plan_.size, request_.chunk, n);
        switch (copier.Copy(input, *output, length)) {
            case CopyStatus::Done:
                break;
            case CopyStatus::Cancelled:
                return Cancel();
            case CopyStatus::OutputFailed:
                return PiecesFailed();
            case CopyStatus::InputShort:
            case CopyStatus::InputFailed:
                return SplitFailure(request_);  // the input could not be read whole
        }
        // The piece is on the medium before its line is written, so the list never names a
        // piece that a power cut could take back; the hashing thread finishes meanwhile.
        if (!output->Flush()) return PiecesFailed();
        if (!WriteLine(ChecksumLine(copier.NextDigest(), piece))) return PiecesFailed();
        ++piecesDone_;
        bytesDone_ += length;
        return {};
    }

    // Adds a line to the checksum file at once, where every reader sees it and a killed split
    // leaves it; the file is flushed to the medium once, when the last piece is written. A power
    // cut before that can only take lines away, and the file then says it is incomplete.
    bool WriteLine(const std::string& line) {
        return checksum_->Write(std::as_bytes(std::span(line.data(), line.size())));
    }

    // Takes back what this run wrote: its pieces, its checksum file, and the placeholder when
    // this run made it.
    Report Cancel() {
        for (const auto& piece : written_) folder_->Remove(piece);
        checksum_.reset();
        folder_->Remove(listName_);
        if (createdPlaceholder_) {
            placeholder_.reset();
            folder_->Remove(name_);
        }
        piecesDone_ = bytesDone_ = 0;
        return StatusOnly(Outcome::Cancelled, messages::kSplitCancelled);
    }

    const SplitPlan& plan_;
    const SplitRequest& request_;
    const OperationControl& control_;
    platform::FileSystem& files_;
    const std::string name_;
    const std::string listName_;
    platform::Permissions permissions_ = 0;
    std::unique_ptr<platform::Folder> folder_;
    std::unique_ptr<platform::File> placeholder_;
    bool createdPlaceholder_ = false;
    std::unique_ptr<platform::File> checksum_;
    std::vector<std::string> written_;
    std::int64_t piecesDone_ = 0;
    std::int64_t bytesDone_ = 0;
};

}  // namespace

SplitRequest SplitRequestFrom(const SharedSettings& settings, const std::string& inputPath) {
    return SplitRequest{inputPath, settings.OutputFolder, settings.PieceExtension,
                        settings.ChunkSize};
}

SplitCheck CheckSplit(const SplitRequest& request, platform::FileSystem& files) {
    SplitCheck check;
    const std::int64_t chunk = request.chunk;
    const auto input = files.Examine(request.inputPath, Follow::Yes);
    if (input.kind != EntryKind::RegularFile || chunk == 0) {
        check.report = SplitFailure(request);
        return check;
    }
    const std::int64_t size = input.length;
    const double quotient = static_cast<double>(size) / static_cast<double>(chunk);
    const std::int64_t pieces = chunk < 0 ? 1 : PiecesNeeded(size, chunk);
    if (pieces <= kMaxPieces) {
        check.report = CheckOutputFolder(request, size, pieces, files);
        if (check.report.outcome == Outcome::Refused) return check;
    }
    check.pieceCount = quotient;
    auto summary = Summary(request.inputPath, size, chunk, quotient);
    if (!summary) {
        check.report = SplitFailure(request);
        return check;
    }
    if (!check.report.Done()) return check;
    check.report.info = std::move(*summary);
    check.plan = SplitPlan{request, size, pieces};
    return check;
}

SplitResult WriteSplit(const SplitPlan& plan, const OperationControl& control,
                       platform::FileSystem& files) {
    return SplitRun(plan, control, files).Run();
}

bool SplitFile(SharedSettings& settings, const std::string& inputPath,
               const OperationControl& control, platform::FileSystem& files) {
    const SplitCheck check = CheckSplit(SplitRequestFrom(settings, inputPath), files);
    if (check.pieceCount) settings.PieceCount = *check.pieceCount;
    TakeReport(settings, check.report);
    if (!check.plan) return false;
    const SplitResult result = WriteSplit(*check.plan, control, files);
    TakeReport(settings, result.report);
    return result.report.Done();
}

}  // namespace tessel
