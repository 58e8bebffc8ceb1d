#include "engine/split.h"

#include <algorithm>
#include <deque>
#include <future>
#include <optional>
#include <span>
#include <vector>

#include "engine/checksum.h"
#include "engine/coded_pieces.h"
#include "engine/copy_loop.h"
#include "engine/flush_thread.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"
#include "engine/recovery_code.h"

namespace tessel {
namespace {

using platform::EntryKind;
using platform::Follow;

// The summary's line on the recovery pieces, where there are any.
std::string RecoveryLine(std::int64_t recovery, std::int64_t length) {
    if (recovery == 0) return {};
    const std::string bytes = std::to_string(length) + " bytes";
    if (recovery == 1) return kCrLf + (" Plus 1 recovery piece of " + bytes + ".");
    return kCrLf +
           (" Plus " + std::to_string(recovery) + " recovery pieces of " + bytes + " each.");
}

// The text the information dialog shows before anything is written; nothing when the file
// needs more pieces than a split may write.
std::optional<std::string> Summary(const std::string& path, std::int64_t size, std::int64_t chunk,
                                   double quotient, const std::string& recoveryLine) {
    const std::string sizeLine = "Size of file  : " + std::to_string(size) + " bytes  " + kCrLf;
    if (quotient < 1.0)
        return "Selected file : " + path + kCrLf + sizeLine + " This will require only One file" +
               recoveryLine;
    const std::int64_t pieces = PiecesNeeded(size, chunk);
    if (pieces > kMaxPieces) return std::nullopt;
    return "Selected File : " + path + kCrLf + sizeLine + " This will require " +
           std::to_string(pieces) + " Files." + recoveryLine;
}

// The code of a plan's recovery pieces, or nothing where there are none.
std::optional<RecoveryCode> CodeOf(std::int64_t pieces, std::int64_t recovery,
                                   std::int64_t longest) {
    if (recovery == 0) return std::nullopt;
    return RecoveryCode::Choose(static_cast<int>(pieces), static_cast<int>(recovery), longest);
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

// The longest name a split writes: the checksum file's, the last piece's or the last recovery
// piece's (the batch file's, NAME.bat, is shorter than the checksum file's).
std::int64_t LongestName(const std::string& name, std::int64_t pieces, std::int64_t recovery,
                         const std::string& extension) {
    const std::int64_t longest =
        std::max(std::ssize(ListName(name)), std::ssize(PieceName(name, pieces, extension)));
    if (recovery == 0) return longest;
    return std::max(longest, std::ssize(RecoveryPieceName(name, recovery, extension)));
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
    // The names come first: one too long for the folder cannot even be looked up in it. Where
    // neither the folder nor the one it is to be made in opens, the writing fails anyway.
    const auto parent = folder ? nullptr : FolderOrParent(request.outputFolder, files);
    if (platform::Folder* where = folder ? folder.get() : parent.get()) {
        const auto nameMax = where->NameMax();
        if (!nameMax) return SplitFailure(request);
        if (LongestName(name, pieces, request.recovery, request.extension) > *nameMax)
            return StatusOnly(Outcome::Refused, messages::kSplitNameTooLong);
    }
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
template <typename Naming>
bool DeleteStalePieces(platform::Folder& folder, std::int64_t lastWritten, Naming nameOf) {
    for (std::int64_t n = lastWritten + 1;; ++n) {
        const std::string piece = nameOf(n);
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
        copier_.emplace(plan_.size, control_, true);
        HoldProgressAtNextPiece();
        if (const auto started = StartRecoveryPieces(); !started.Done()) return Result(started);
        for (std::int64_t n = 1; n <= plan_.pieces; ++n) {
            const Report written = WritePiece(n, *input);
            if (!written.Done()) return Result(written);
        }
        while (!copied_.empty()) {
            if (const auto listed = ListOldest(); !listed.Done()) return Result(listed);
        }
        if (const auto written = WriteRecoveryPieces(); !written.Done()) return Result(written);
        if (!checksum_->Flush()) return Result(PiecesFailed());
        const auto stalePiece = [&](std::int64_t n) {
            return PieceName(name_, n, request_.extension);
        };
        const auto staleRecovery = [&](std::int64_t j) {
            return RecoveryPieceName(name_, j, request_.extension);
        };
        if (!DeleteStalePieces(*folder_, plan_.pieces, stalePiece) ||
            !DeleteStalePieces(*folder_, plan_.request.recovery, staleRecovery))
            return Fail();
        return Result(StatusOnly(Outcome::Done, messages::kSplitSucceeded));
    }

  private:
    SplitResult Result(Report report) const {
        return SplitResult{std::move(report), piecesDone_, bytesDone_, recoveryDone_};
    }
    SplitResult Fail() const { return Result(SplitFailure(request_)); }

    // The empty file that a join later names, left in the output folder and held locked while
    // the pieces are written, so that no join reads a half-written set and no second split of
    // the same file writes beside this one. One that cannot be made is no reason to stop, unless
    // another split or a join holds it, or a link stands there (planted, it may be, between the
    // look at the name and the open).
    bool HoldPlaceholder() {
        const auto kind = folder_->Examine(name_, Follow::No).kind;
        if (kind == EntryKind::Link || kind == EntryKind::Unknown) return false;
        placeholder_ = folder_->OpenOrCreate(name_, permissions_);
        createdPlaceholder_ = placeholder_ != nullptr && kind == EntryKind::Missing;
        if (placeholder_ != nullptr) return true;
        const auto now = folder_->Examine(name_, Follow::No).kind;
        return now != EntryKind::Link && now != EntryKind::Unknown && !folder_->IsLocked(name_);
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
        ChecksumHeader header{name_, plan_.size, request_.chunk, plan_.pieces, 0, {}};
        if (code_) {
            header.recovery = code_->RecoveryPieces();
            header.code = code_->Name();
        }
        if (!checksum_ || !WriteLine(ChecksumHeaderLine(header))) return PiecesFailed();
        return {};
    }

    // Readies the recovery pieces: every byte of every piece the copy moves adds into each of
    // them, on the hashing threads, in memory or, where they are too long for that, in their
    // own files, made now. Each piece's bytes start on another recovery piece, so that the
    // threads seldom wait for one another.
    Report StartRecoveryPieces() {
        if (!code_) return {};
        recovery_ = std::make_unique<CodedPieces>(*code_, code_->RecoveryPieces());
        if (recovery_->InFiles()) {
            for (int j = 0; j < code_->RecoveryPieces(); ++j) {
                const auto file = CreateRecoveryFile(j);
                if (!file) return PiecesFailed();
                recovery_->SetPlace(j, {file, 0});
            }
        }
        copier_->Observe(
            [this](std::int64_t copy, std::int64_t offset, std::span<const std::byte> bytes) {
                const int count = code_->RecoveryPieces();
                for (int k = 0; k < count; ++k) {
                    const int j = static_cast<int>((copy + k) % count);
                    if (!recovery_->Add(j, code_->Coefficient(j, static_cast<int>(copy)), bytes,
                                        offset))
                        return false;
                }
                return true;
            });
        return {};
    }

    platform::File* CreateRecoveryFile(int j) {
        const std::string name = RecoveryPieceName(name_, j + 1, request_.extension);
        if (!ClearName(*folder_, name)) return nullptr;
        auto file = folder_->CreateNew(name, permissions_);
        if (!file) return nullptr;
        written_.push_back(name);
        recoveryFiles_.push_back(std::move(file));
        return recoveryFiles_.back().get();
    }

    // Writes the recovery pieces out once every piece has added into them, each listed once it
    // is on the medium, as a piece is.
    Report WriteRecoveryPieces() {
        if (!code_) return {};
        if (copier_->ObserverFailed()) return PiecesFailed();
        std::vector<std::byte> buffer(kCopyBufferBytes);
        for (int j = 0; j < code_->RecoveryPieces(); ++j) {
            if (control_.Cancelled()) return Cancel();
            platform::File* file = recovery_->InFiles()
                                       ? recoveryFiles_[static_cast<std::size_t>(j)].get()
                                       : CreateRecoveryFile(j);
            if (!file) return PiecesFailed();
            Sha256 sha;
            for (std::int64_t at = 0; at < recovery_->Length(); at += std::ssize(buffer)) {
                const auto part = std::span(buffer).first(static_cast<std::size_t>(
                    std::min(recovery_->Length() - at, std::ssize(buffer))));
                if (!recovery_->Read(j, part, at)) return PiecesFailed();
                if (!recovery_->InFiles() && !file->Write(part)) return PiecesFailed();
                sha.Update(part);
            }
            if (!file->Flush()) return PiecesFailed();
            if (!WriteLine(ChecksumLine(sha.Finish(),
                                        RecoveryPieceName(name_, j + 1, request_.extension))))
                return PiecesFailed();
            ++recoveryDone_;
        }
        return {};
    }

    Report WritePiece(std::int64_t n, platform::File& input) {
        if (control_.Cancelled()) return Cancel();
        const std::string piece = PieceName(name_, n, request_.extension);
        if (!ClearName(*folder_, piece)) return ListCopiedThen(SplitFailure(request_));
        auto output = folder_->CreateNew(piece, permissions_);
        if (!output) return ListCopiedThen(PiecesFailed());
        written_.push_back(piece);
        const std::int64_t length = PieceLength(plan_.size, request_.chunk, n);
        switch (copier_->Copy(input, *output, length, {output.get(), 0})) {
            case CopyStatus::Done:
                break;
            case CopyStatus::Cancelled:
                return Cancel();
            case CopyStatus::OutputFailed:
                return ListCopiedThen(PiecesFailed());
            case CopyStatus::InputShort:
            case CopyStatus::InputFailed:
                // The input could not be read whole.
                return ListCopiedThen(SplitFailure(request_));
        }
        // The piece goes to the medium on the flushing thread while the next ones are copied;
        // its line waits for that and for its digest. As many pieces wait so as there are
        // threads to hash them: the oldest are listed now.
        auto flushed = flusher_->Flush(*output);
        copied_.push_back({piece, length, std::move(output), std::move(flushed)});
        while (std::ssize(copied_) > copier_->HashingThreads()) {
            if (const auto listed = ListOldest(); !listed.Done()) return listed;
        }
        return {};
    }

    // A split that fails still lists the pieces copied whole before, once they are on the
    // medium, unless one of them fails first.
    Report ListCopiedThen(Report failure) {
        while (!copied_.empty()) {
            if (const auto listed = ListOldest(); !listed.Done()) return listed;
        }
        return failure;
    }

    // Lists the oldest piece copied. It is on the medium before its line is written, so the
    // list never names a piece that a power cut could take back; a piece that could not be
    // flushed, or read again to be hashed, fails the split unlisted.
    Report ListOldest() {
        CopiedPiece piece = std::move(copied_.front());
        copied_.pop_front();
        const bool flushed = piece.flushed.get();
        const auto digest = copier_->NextDigest();
        if (!digest && control_.Cancelled()) return Cancel();
        if (!flushed || !digest || !WriteLine(ChecksumLine(*digest, piece.name)))
            return PiecesFailed();
        ++piecesDone_;
        bytesDone_ += piece.length;
        HoldProgressAtNextPiece();
        copier_->TellProgress();
        return {};
    }

    // Progress tells of the pieces listed and the one after them, no further: what it tells is
    // what it told when each piece was listed before the next was copied.
    void HoldProgressAtNextPiece() {
        const std::int64_t next = piecesDone_ + 1;
        copier_->HoldProgressAt(bytesDone_ + (next <= plan_.pieces
                                                  ? PieceLength(plan_.size, request_.chunk, next)
                                                  : 0));
    }

    // Adds a line to the checksum file at once, where every reader sees it and a killed split
    // leaves it; the file is flushed to the medium once, when the last piece is written. A power
    // cut before that can only take lines away, and the file then says it is incomplete.
    bool WriteLine(const std::string& line) {
        return checksum_->Write(std::as_bytes(std::span(line.data(), line.size())));
    }

    // Takes back what this run wrote: its pieces, its checksum file, and the placeholder when
    // this run made it. The hashing and flushing threads let go of the files first.
    Report Cancel() {
        copier_->Abandon();
        flusher_->Finish();
        copied_.clear();
        for (const auto& piece : written_) folder_->Remove(piece);
        checksum_.reset();
        folder_->Remove(listName_);
        if (createdPlaceholder_) {
            placeholder_.reset();
            folder_->Remove(name_);
        }
        recoveryFiles_.clear();
        piecesDone_ = bytesDone_ = recoveryDone_ = 0;
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
    const std::optional<RecoveryCode> code_ =
        CodeOf(plan_.pieces, plan_.request.recovery, plan_.recoveryLength);
    std::unique_ptr<CodedPieces> recovery_;
    std::vector<std::unique_ptr<platform::File>> recoveryFiles_;
    std::int64_t piecesDone_ = 0;
    std::int64_t bytesDone_ = 0;
    std::int64_t recoveryDone_ = 0;

    // A piece copied whole, waiting for its flush and its digest to be listed.
    struct CopiedPiece {
        std::string name;
        std::int64_t length = 0;
        std::unique_ptr<platform::File> file;
        std::future<bool> flushed;
    };
    // Declared after the files they work on, so that they stop with the run before those close.
    std::deque<CopiedPiece> copied_;
    std::unique_ptr<FlushThread> flusher_ = std::make_unique<FlushThread>();
    std::optional<CopyLoop> copier_;
};

}  // namespace

SplitRequest SplitRequestFrom(const SharedSettings& settings, const std::string& inputPath) {
    return SplitRequest{inputPath, settings.OutputFolder, settings.PieceExtension,
                        settings.ChunkSize, 0};
}

SplitCheck CheckSplit(const SplitRequest& request, platform::FileSystem& files) {
    SplitCheck check;
    const std::int64_t chunk = request.chunk;
    const auto input = files.Examine(request.inputPath, Follow::Yes);
    if (input.kind != EntryKind::RegularFile || chunk == 0 || request.recovery < 0 ||
        request.recovery > kMaxRecoveryPieces) {
        check.report = SplitFailure(request);
        return check;
    }
    const std::int64_t size = input.length;
    const double quotient = static_cast<double>(size) / static_cast<double>(chunk);
    const std::int64_t pieces = chunk < 0 ? 1 : PiecesNeeded(size, chunk);
    // The recovery pieces are as long as the longest piece: the first.
    const auto code = CodeOf(std::min(pieces, kMaxPieces), request.recovery,
                             chunk < 0 ? size : PieceLength(size, chunk, 1));
    const std::int64_t recoveryLength = code ? code->RecoveryLength() : 0;
    if (pieces <= kMaxPieces) {
        check.report = CheckOutputFolder(request, size, pieces, files);
        if (check.report.outcome == Outcome::Refused) return check;
    }
    check.pieceCount = quotient;
    auto summary = Summary(request.inputPath, size, chunk, quotient,
                           RecoveryLine(request.recovery, recoveryLength));
    if (!summary) {
        check.report = SplitFailure(request);
        return check;
    }
    if (!check.report.Done()) return check;
    check.report.info = std::move(*summary);
    check.plan = SplitPlan{request, size, pieces, recoveryLength};
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
