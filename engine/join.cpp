#include "engine/join.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "engine/copy_loop.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"

namespace tessel {
namespace {

using platform::EntryInfo;
using platform::EntryKind;
using platform::Follow;

constexpr std::size_t kListReadBytes = 64 * 1024;

std::string PieceText(std::int64_t n, PieceState state) {
    return messages::kPieceOpen + std::to_string(n) +
           (state == PieceState::Missing ? messages::kPieceMissingClose
                                         : messages::kPieceDamagedClose);
}

// A file could not be opened or written: only the status line says that the join failed.
Report Refusal() {
    return StatusOnly(Outcome::Failed, messages::kJoinFailed);
}

// The pieces as the checks found them, and what they say of the join.
struct Pieces {
    std::vector<EntryInfo> found;  // piece n at n - 1
    std::vector<PieceState> states;
    std::vector<std::int64_t> lengths;
};

// The first piece that is not there as it should be, in the join's failure texts.
std::optional<Report> FirstProblem(const Pieces& pieces, const std::string& target) {
    for (std::size_t i = 0; i < pieces.states.size(); ++i) {
        if (pieces.states[i] == PieceState::Found) continue;
        return Failure(messages::kJoinFailure, target,
                       PieceText(static_cast<std::int64_t>(i) + 1, pieces.states[i]));
    }
    return std::nullopt;
}

// Reads the checksum file a line at a time: memory stays small whatever it holds, and a file
// longer than any list Tessel can have to read is refused without being read.
ListReading ReadList(platform::Folder& folder, const std::string& listName, const std::string& name,
                     const std::string& extension, ChecksumList& list) {
    const auto file = folder.OpenForReading(listName, Follow::No);
    if (!file) return ListReading::NotUnderstood;
    const auto info = file->Info();
    if (info.kind != EntryKind::RegularFile || info.length > kMaxChecksumFileBytes)
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

// The check of one join: the folder it looks in, what it finds there and what it comes to.
class JoinChecker {
  public:
    JoinChecker(const JoinRequest& request, platform::FileSystem& files)
        : request_(request),
          files_(files),
          target_(request.targetPath),
          name_(FileNamePart(target_)),
          listName_(name_ + kChecksumSuffix) {}

    JoinCheck Run() {
        folder_ = files_.OpenFolder(FolderOf(target_));
        if (folder_ == nullptr) {
            // A folder that is not there holds no piece 1.
            if (files_.Examine(FolderOf(target_), Follow::Yes).kind == EntryKind::Missing)
                return Ended(Refusal());
            return Ended(Fail());
        }
        // The joined bytes may come from a shared folder: never through a link planted there.
        targetInfo_ = folder_->Examine(name_, Follow::No);
        switch (targetInfo_.kind) {
            case EntryKind::Link:
            case EntryKind::Unknown:
                return Ended(Fail());
            case EntryKind::Folder:
            case EntryKind::Other:
                return Ended(Refusal());
            default:
                break;
        }
        const auto list = folder_->Examine(listName_, Follow::No).kind;
        if (list == EntryKind::Missing) {
            if (auto refused = PlanFromNames()) return Ended(std::move(*refused));
        } else if (list == EntryKind::RegularFile) {
            if (auto refused = PlanFromList()) return Ended(std::move(*refused));
        } else {
            return Ended(Fail(messages::kChecksumFileUnreadable));
        }
        if (auto problem = FirstProblem(pieces_, target_)) return Ended(std::move(*problem));
        return Planned();
    }

  private:
    Report Fail(std::optional<std::string_view> status = std::nullopt) const {
        return Failure(messages::kJoinFailure, target_, status);
    }

    JoinCheck Ended(Report report) const {
        return JoinCheck{std::move(report), pieces_.states, {}};
    }

    std::string Piece(std::int64_t n) const { return PieceName(name_, n, request_.extension); }

    // The pieces the checksum file lists, each there and, where the list says, of its length.
    std::optional<Report> PlanFromList() {
        switch (ReadList(*folder_, listName_, name_, request_.extension, list_)) {
            case ListReading::Complete:
                break;
            case ListReading::Incomplete:
                return Fail(messages::kChecksumFileIncomplete);
            case ListReading::NotUnderstood:
                return Fail(messages::kChecksumFileUnreadable);
        }
        for (std::int64_t n = 1; n <= list_.Pieces(); ++n) {
            const auto info = folder_->Examine(Piece(n), Follow::Yes);
            if (info.kind == EntryKind::Unknown) return Fail();
            const std::int64_t expected =
                list_.header ? PieceLength(list_.header->size, list_.header->chunk, n)
                             : info.length;
            PieceState state = PieceState::Found;
            if (info.kind != EntryKind::RegularFile)
                state = PieceState::Missing;
            else if (info.length != expected)
                state = PieceState::Damaged;
            AddPiece(info, state, expected);
        }
        return std::nullopt;
    }

    // The unbroken run of pieces from 1, where no checksum file names them.
    std::optional<Report> PlanFromNames() {
        for (std::int64_t n = 1;; ++n) {
            const auto info = folder_->Examine(Piece(n), Follow::Yes);
            if (info.kind == EntryKind::Unknown) return Fail();
            if (info.kind != EntryKind::RegularFile) break;
            if (n > kMaxPieces) return Fail();
            AddPiece(info, PieceState::Found, info.length);
        }
        if (pieces_.found.empty()) return Refusal();
        const auto beyond = PieceBeyondTheRun();
        if (!beyond || *beyond) return Fail();
        return std::nullopt;
    }

    // Whether a piece numbered above the run lies in the folder: the run stopped at a gap, and
    // joining only the run would hand back a truncated file. Nothing when it cannot be told.
    std::optional<bool> PieceBeyondTheRun() {
        const auto entries = folder_->List();
        if (!entries) return std::nullopt;
        const auto count = std::ssize(pieces_.found);
        for (const auto& entry : *entries) {
            const auto piece = ParsePieceName(entry, request_.extension);
            if (!piece || piece->base != name_ || piece->number <= count) continue;
            const auto kind = folder_->Examine(entry, Follow::Yes).kind;
            if (kind == EntryKind::Unknown) return std::nullopt;
            if (kind == EntryKind::RegularFile) return true;
        }
        return false;
    }

    void AddPiece(const EntryInfo& info, PieceState state, std::int64_t length) {
        pieces_.found.push_back(info);
        pieces_.states.push_back(state);
        pieces_.lengths.push_back(length);
    }

    JoinCheck Planned() {
        JoinPlan plan;
        plan.request = request_;
        plan.lengths = pieces_.lengths;
        plan.digests = list_.digests;
        // A target that is one of its own pieces would be written while it is read.
        for (const auto& piece : pieces_.found)
            if (platform::SameFile(targetInfo_, piece)) return Ended(Fail());
        for (const auto length : plan.lengths)
            if (__builtin_add_overflow(plan.total, length, &plan.total)) return Ended(Fail());
        plan.permissions = platform::kPermissionBits & ~platform::CreationMask();
        for (const auto& piece : pieces_.found) plan.permissions &= piece.permissions;
        if (targetInfo_.kind == EntryKind::RegularFile) {
            plan.existingLength = targetInfo_.length;
            plan.permissions &= targetInfo_.permissions;
        }
        return JoinCheck{{}, pieces_.states, std::move(plan)};
    }

    const JoinRequest& request_;
    platform::FileSystem& files_;
    const std::string& target_;
    const std::string name_;
    const std::string listName_;
    std::unique_ptr<platform::Folder> folder_;
    EntryInfo targetInfo_;
    ChecksumList list_;
    Pieces pieces_;
};

// Takes the bytes of a copy and keeps none: the hashing of a check before an in-place write.
class Discard final : public platform::File {
  public:
    std::optional<std::size_t> Read(std::span<std::byte>) override { return std::nullopt; }
    bool Write(std::span<const std::byte>) override { return true; }
    bool Flush() override { return true; }
    EntryInfo Info() override { return {}; }
    bool Truncate(std::int64_t) override { return true; }
    bool SetPermissions(platform::Permissions) override { return true; }
};

// One run of the writing step.
class JoinRun {
  public:
    JoinRun(const JoinPlan& plan, const OperationControl& control, platform::FileSystem& files)
        : plan_(plan),
          control_(control),
          files_(files),
          target_(plan.request.targetPath),
          name_(FileNamePart(target_)),
          states_(plan.lengths.size(), PieceState::Found) {}

    JoinResult Run() {
        folder_ = files_.OpenFolder(FolderOf(target_));
        if (folder_ == nullptr) return Result(Refusal());
        // The old file stays locked until its replacement takes its name: another program that
        // holds it keeps the join out, as it always did.
        switch (folder_->Examine(name_, Follow::No).kind) {
            case EntryKind::Missing:
                break;
            case EntryKind::RegularFile:
                held_ = folder_->HoldExclusive(name_);
                if (!held_) return Result(Refusal());
                heldInfo_ = held_->Info();
                if (!heldInfo_.Exists()) return Result(Fail());
                break;
            case EntryKind::Link:
            case EntryKind::Unknown:
                return Result(Fail());
            default:
                return Result(Refusal());
        }
        // Where no new file can be made beside the target and take its name (a folder the user
        // may not write, another user's file in a folder where only owners rename), or the
        // medium lacks room for both, the target is written in place.
        if (!RoomForBoth() || !folder_->MayRenameOver(name_)) return WriteInPlace();
        const auto replacement = folder_->CreateReplacement(name_, plan_.permissions);
        if (!replacement) return Result(Refusal());
        const Report written = WriteAll(*replacement, 1);
        if (!written.Done()) return Result(written);
        if (!replacement->Flush() || !replacement->Commit()) return Result(Refusal());
        return Result(Joined());
    }

  private:
    JoinResult Result(Report report) const {
        JoinResult result{std::move(report), states_, false, 0};
        if (result.report.Done()) {
            result.verified = plan_.Verified();
            result.bytesWritten = plan_.total;
        }
        return result;
    }

    Report Fail(std::optional<std::string_view> status = std::nullopt) const {
        return Failure(messages::kJoinFailure, target_, status);
    }

    Report Joined() const {
        return StatusOnly(Outcome::Done,
                          plan_.Verified() ? messages::kJoinVerified : messages::kJoinSucceeded);
    }

    Report Damaged(std::int64_t n) {
        states_[static_cast<std::size_t>(n - 1)] = PieceState::Damaged;
        return Fail(PieceText(n, PieceState::Damaged));
    }

    // Whether the medium has room for the new file beside the old one; where it cannot be told,
    // the new file is tried.
    bool RoomForBoth() {
        if (plan_.existingLength.value_or(0) <= 0) return true;
        const auto free = folder_->FreeBytes();
        return !free || *free >= plan_.total;
    }

    // Where no new file can stand beside the target: the pieces are first checked against the
    // checksum file, then written over the target itself. Without a checksum file nothing could
    // tell a damaged piece before the old bytes are gone, so only an empty or missing target is
    // written so.
    JoinResult WriteInPlace() {
        if (!plan_.Verified() && plan_.existingLength.value_or(0) > 0) return Result(Refusal());
        if (plan_.Verified()) {
            Discard discard;
            const Report checked = WriteAll(discard, 2);
            if (!checked.Done()) return Result(checked);
        }
        held_.reset();
        const auto target = folder_->OpenOrCreate(name_, plan_.permissions);
        if (!target) return Result(Refusal());
        const auto info = target->Info();
        if (!info.Exists() || (heldInfo_.Exists() && !platform::SameFile(info, heldInfo_)))
            return Result(Refusal());
        if ((info.permissions & ~plan_.permissions & platform::kPermissionBits) != 0 &&
            !target->SetPermissions(info.permissions & plan_.permissions))
            return Result(Refusal());
        const Report written =
            plan_.Verified() ? WriteAll(*target, 2, plan_.total) : WriteAll(*target, 1);
        if (!written.Done()) return Result(written);
        if (!target->Truncate(plan_.total) || !target->Flush()) return Result(Refusal());
        return Result(Joined());
    }

    // Copies every piece, in order, into `output`, checking each against its checksum where
    // there is one. `passes` is how often the join reads the pieces, for its progress; `before`
    // the bytes a first pass has done already.
    Report WriteAll(platform::File& output, int passes, std::int64_t before = 0) {
        CopyLoop copier(passes * plan_.total, control_, plan_.Verified(), before);
        platform::Permissions pieceBits = platform::kPermissionBits;
        // A piece's digest is compared once the next piece is copied, so that hashing overlaps
        // the copy; the last one before the file is taken as whole.
        const auto matchesList = [&](std::int64_t n) {
            return !plan_.Verified() ||
                   copier.NextDigest() == plan_.digests[static_cast<std::size_t>(n - 1)];
        };
        const auto count = std::ssize(plan_.lengths);
        for (std::int64_t n = 1; n <= count; ++n) {
            const auto length = plan_.lengths[static_cast<std::size_t>(n - 1)];
            const auto piece =
                folder_->OpenForReading(PieceName(name_, n, plan_.request.extension), Follow::Yes);
            if (!piece) return Refusal();
            const auto info = piece->Info();
            if (info.kind != EntryKind::RegularFile) return Fail();
            pieceBits &= info.permissions;
            // A piece that changed since the check must never be passed off as joined.
            if (info.length != length) return plan_.Verified() ? Damaged(n) : Fail();
            switch (copier.Copy(*piece, output, length)) {
                case CopyStatus::Done:
                    break;
                case CopyStatus::Cancelled:
                    return StatusOnly(Outcome::Cancelled, messages::kJoinCancelled);
                case CopyStatus::OutputFailed:
                    return Refusal();
                case CopyStatus::InputShort:
                case CopyStatus::InputFailed:
                    return plan_.Verified() ? Damaged(n) : Fail();
            }
            if (n > 1 && !matchesList(n - 1)) return Damaged(n - 1);
        }
        if (!matchesList(count)) return Damaged(count);
        if (control_.Cancelled()) return StatusOnly(Outcome::Cancelled, messages::kJoinCancelled);
        // A piece made more private since the check makes the joined file so too.
        const auto narrowed = plan_.permissions & pieceBits;
        if (narrowed != plan_.permissions && !output.SetPermissions(narrowed)) return Refusal();
        return {};
    }

    const JoinPlan& plan_;
    const OperationControl& control_;
    platform::FileSystem& files_;
    const std::string& target_;
    const std::string name_;
    std::vector<PieceState> states_;
    std::unique_ptr<platform::Folder> folder_;
    std::unique_ptr<platform::File> held_;
    EntryInfo heldInfo_{EntryKind::Missing};
};

}  // namespace

JoinRequest JoinRequestFrom(const SharedSettings& settings, const std::string& targetPath) {
    return JoinRequest{targetPath, settings.PieceExtension};
}

JoinCheck CheckJoin(const JoinRequest& request, platform::FileSystem& files) {
    return JoinChecker(request, files).Run();
}

JoinResult WriteJoin(const JoinPlan& plan, const OperationControl& control,
                     platform::FileSystem& files) {
    return JoinRun(plan, control, files).Run();
}

bool JoinFiles(SharedSettings& settings, const std::string& targetPath,
               const OperationControl& control, platform::FileSystem& files) {
    const JoinCheck check = CheckJoin(JoinRequestFrom(settings, targetPath), files);
    TakeReport(settings, check.report);
    if (!check.plan) return false;
    const JoinResult result = WriteJoin(*check.plan, control, files);
    TakeReport(settings, result.report);
    return result.report.Done();
}

}  // namespace tessel
