#include "engine/join.h"

#include <algorithm>
#include <functional>
#include <span>
#include <string_view>

#include "engine/coded_pieces.h"
#include "engine/copy_loop.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"
#include "engine/recovery_code.h"

namespace tessel {
namespace {

using platform::EntryInfo;
using platform::EntryKind;
using platform::Follow;

// A file could not be opened or written: only the status line says that the join failed.
Report Refusal() {
    return StatusOnly(Outcome::Failed, messages::kJoinFailed);
}

// The pieces as the checks found them, and what they say of the join.
struct Pieces {
    std::vector<EntryInfo> found;  // piece n at n - 1
    std::vector<PieceState> states;
    std::vector<std::int64_t> lengths;
    std::vector<PieceState> recoveryStates;  // recovery piece j at j - 1
};

std::int64_t CountLost(const std::vector<PieceState>& states) {
    return std::ranges::count_if(states,
                                 [](PieceState state) { return state != PieceState::Found; });
}

}  // namespace

std::string PieceText(std::int64_t n, PieceState state) {
    return messages::kPieceOpen + std::to_string(n) +
           (state == PieceState::Missing ? messages::kPieceMissingClose
                                         : messages::kPieceDamagedClose);
}

namespace {

// The first piece that is not there as it should be, in the join's failure texts.
std::optional<Report> FirstProblem(const Pieces& pieces, const std::string& target) {
    for (std::size_t i = 0; i < pieces.states.size(); ++i) {
        if (pieces.states[i] == PieceState::Found) continue;
        return Failure(messages::kJoinFailure, target,
                       PieceText(static_cast<std::int64_t>(i) + 1, pieces.states[i]));
    }
    return std::nullopt;
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
        if (auto problem = ProblemOf()) return Ended(std::move(*problem));
        return Planned();
    }

  private:
    Report Fail(std::optional<std::string_view> status = std::nullopt) const {
        return Failure(messages::kJoinFailure, target_, status);
    }

    JoinCheck Ended(Report report) const {
        return JoinCheck{std::move(report), pieces_.states, pieces_.recoveryStates, {}};
    }

    std::string Piece(std::int64_t n) const { return PieceName(name_, n, request_.extension); }

    // The pieces the checksum file lists, each there and, where the list says, of its length.
    std::optional<Report> PlanFromList() {
        if (const auto refusal = ListRefusal(
                ReadChecksumFile(*folder_, listName_, name_, request_.extension, list_)))
            return Fail(*refusal);
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
        // A plain list says nothing of how many pieces there are: one that leaves out the last
        // pieces standing beside the others must not pass off part of the file as all of it.
        if (!list_.header) {
            const auto beyond = PieceBeyondTheRun();
            if (!beyond || *beyond) return Fail();
        }
        if (const auto code = CodeOfList()) return ExamineRecoveryPieces(code->RecoveryLength());
        return std::nullopt;
    }

    std::optional<RecoveryCode> CodeOfList() const {
        if (list_.RecoveryPieces() == 0) return std::nullopt;
        const auto& header = *list_.header;
        return RecoveryCode::FromName(header.code, static_cast<int>(header.pieces),
                                      static_cast<int>(header.recovery),
                                      PieceLength(header.size, header.chunk, 1));
    }

    // What stops the join: the first piece missing or damaged; with recovery pieces, only more
    // pieces lost than they can rebuild (recovery pieces lost among them).
    std::optional<Report> ProblemOf() const {
        if (list_.RecoveryPieces() == 0) return FirstProblem(pieces_, target_);
        const std::int64_t lostPieces = CountLost(pieces_.states);
        const std::int64_t lost = lostPieces + CountLost(pieces_.recoveryStates);
        if (lostPieces == 0 || lost <= list_.RecoveryPieces()) return std::nullopt;
        return Fail(messages::TooManyLost(lost, list_.RecoveryPieces()));
    }

    // The recovery pieces the checksum file lists, each there and of their length.
    std::optional<Report> ExamineRecoveryPieces(std::int64_t length) {
        for (std::int64_t j = 1; j <= list_.RecoveryPieces(); ++j) {
            const auto info =
                folder_->Examine(RecoveryPieceName(name_, j, request_.extension), Follow::Yes);
            if (info.kind == EntryKind::Unknown) return Fail();
            PieceState state = PieceState::Found;
            if (info.kind != EntryKind::RegularFile)
                state = PieceState::Missing;
            else if (info.length != length)
                state = PieceState::Damaged;
            pieces_.recoveryStates.push_back(state);
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
            if (!piece || piece->recovery || piece->base != name_ || piece->number <= count)
                continue;
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
        if (const auto code = CodeOfList()) {
            plan.recoveryDigests = list_.recoveryDigests;
            plan.code = code->Name();
            plan.recoveryLength = code->RecoveryLength();
            plan.chunk = list_.header->chunk;
            const auto addLost = [&](const std::vector<PieceState>& states, int first) {
                for (std::size_t i = 0; i < states.size(); ++i)
                    if (states[i] != PieceState::Found)
                        plan.lost.push_back(first + static_cast<int>(i));
            };
            addLost(pieces_.states, 0);
            addLost(pieces_.recoveryStates, static_cast<int>(plan.lengths.size()));
        }
        // A target that is one of its own pieces would be written while it is read.
        for (const auto& piece : pieces_.found)
            if (platform::SameFile(targetInfo_, piece)) return Ended(Fail());
        for (const auto length : plan.lengths)
            if (__builtin_add_overflow(plan.total, length, &plan.total)) return Ended(Fail());
        plan.permissions = platform::kPermissionBits & ~platform::CreationMask();
        for (const auto& piece : pieces_.found)
            if (piece.kind == EntryKind::RegularFile) plan.permissions &= piece.permissions;
        if (targetInfo_.kind == EntryKind::RegularFile) {
            plan.existingLength = targetInfo_.length;
            plan.permissions &= targetInfo_.permissions;
            plan.keep = MayHaveTheBytes(plan.permissions);
        }
        return JoinCheck{{}, pieces_.states, pieces_.recoveryStates, std::move(plan)};
    }

    // Whether the owner and the group of the file the join replaces could read every piece: each
    // piece theirs, or readable by everyone. A group also keeps the file where the joined file
    // gives groups nothing.
    platform::Ownership MayHaveTheBytes(platform::Permissions joined) const {
        constexpr platform::Permissions kOthersRead = 0004;
        constexpr platform::Permissions kGroupBits = 0070;
        platform::Ownership keep;
        for (const auto& piece : pieces_.found) {
            if (piece.kind != EntryKind::RegularFile || (piece.permissions & kOthersRead) != 0)
                continue;
            keep.owner = keep.owner && piece.owner == targetInfo_.owner;
            keep.group = keep.group && piece.group == targetInfo_.group;
        }
        keep.group = keep.group || (joined & kGroupBits) == 0;
        return keep;
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

// Takes the digests of one loop's copies in order and compares each with the one its piece
// should have, as far behind the copying as the caller lets them fall.
class DigestChecks {
  public:
    enum class Outcome { Matched, Mismatched, Unread };

    DigestChecks(CopyLoop& copier, std::function<Digest(std::int64_t copy)> expected)
        : copier_(copier), expected_(std::move(expected)) {}

    // How many copies may stay unchecked behind the one under way: one for each hashing thread,
    // so that every thread has a piece to hash while the next is copied.
    std::int64_t Lag() const { return std::max(1, copier_.HashingThreads()); }
    // The copies checked and found to match, in order.
    std::int64_t Checked() const { return checked_; }

    // Checks the copies up to `upTo` of them, stopping at the first whose digest does not
    // match (it is then copy Checked()), or could not be worked out.
    Outcome UpTo(std::int64_t upTo) {
        for (; checked_ < upTo; ++checked_) {
            const auto digest = copier_.NextDigest();
            if (!digest) return Outcome::Unread;
            if (*digest != expected_(checked_)) return Outcome::Mismatched;
        }
        return Outcome::Matched;
    }

  private:
    CopyLoop& copier_;
    std::function<Digest(std::int64_t)> expected_;
    std::int64_t checked_ = 0;
};

// Writes what is copied into it at a place of another file, from `offset` on.
class AtOffset final : public platform::File {
  public:
    AtOffset(platform::File& inner, std::int64_t offset) : inner_(inner), offset_(offset) {}
    std::optional<std::size_t> Read(std::span<std::byte>) override { return std::nullopt; }
    bool Write(std::span<const std::byte> bytes) override {
        if (!inner_.WriteAt(bytes, offset_)) return false;
        offset_ += std::ssize(bytes);
        return true;
    }
    std::optional<std::size_t> ReadAt(std::span<std::byte> into, std::int64_t offset) override {
        return inner_.ReadAt(into, offset);
    }
    bool WriteAt(std::span<const std::byte> bytes, std::int64_t offset) override {
        return inner_.WriteAt(bytes, offset);
    }
    bool Flush() override { return inner_.Flush(); }
    EntryInfo Info() override { return inner_.Info(); }
    bool Truncate(std::int64_t length) override { return inner_.Truncate(length); }
    bool SetPermissions(platform::Permissions permissions) override {
        return inner_.SetPermissions(permissions);
    }

  private:
    platform::File& inner_;
    std::int64_t offset_;
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
          states_(plan.lengths.size(), PieceState::Found),
          recoveryStates_(plan.recoveryDigests.size(), PieceState::Found),
          lost_(plan.lost) {
        for (const int piece : lost_) StateOf(piece) = PieceState::Missing;
        if (plan.Recoverable())
            code_ = RecoveryCode::FromName(plan.code, static_cast<int>(plan.lengths.size()),
                                           static_cast<int>(plan.recoveryDigests.size()),
                                           plan.lengths.front());
    }

    // The whole file into `output`, which takes no name.
    JoinResult RunInto(platform::File& output) {
        folder_ = files_.OpenFolder(FolderOf(target_));
        if (folder_ == nullptr) return Result(Refusal());
        if (plan_.Recoverable() && !code_) return Result(Fail());
        const Report written = WriteWhole(output);
        if (!written.Done()) return Result(written);
        return Result(Joined());
    }

    JoinResult Run() {
        folder_ = files_.OpenFolder(FolderOf(target_));
        if (folder_ == nullptr) return Result(Refusal());
        if (plan_.Recoverable() && !code_) return Result(Fail());
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
        const Report written = WriteWhole(*replacement);
        if (!written.Done()) return Result(written);
        if (!replacement->Flush() || !replacement->Commit(plan_.keep)) return Result(Refusal());
        return Result(Joined());
    }

  private:
    JoinResult Result(Report report) const {
        JoinResult result{std::move(report), states_, recoveryStates_, false, 0, 0};
        if (result.report.Done()) {
            result.verified = plan_.Verified();
            result.bytesWritten = plan_.total;
            result.rebuilt = rebuilt_;
        }
        return result;
    }

    Report Fail(std::optional<std::string_view> status = std::nullopt) const {
        return Failure(messages::kJoinFailure, target_, status);
    }

    Report Cancelled() const { return StatusOnly(Outcome::Cancelled, messages::kJoinCancelled); }

    Report Joined() const {
        if (!plan_.Verified()) return StatusOnly(Outcome::Done, messages::kJoinSucceeded);
        std::string status = messages::kJoinVerified;
        if (rebuilt_ == 1) status += messages::kJoinRebuiltOne;
        if (rebuilt_ > 1)
            status +=
                messages::kJoinRebuiltOpen + std::to_string(rebuilt_) + messages::kJoinRebuiltClose;
        return StatusOnly(Outcome::Done, status);
    }

    Report Damaged(std::int64_t n) {
        states_[static_cast<std::size_t>(n - 1)] = PieceState::Damaged;
        damageFound_ = true;
        return Fail(PieceText(n, PieceState::Damaged));
    }

    PieceState& StateOf(int piece) {
        const auto count = static_cast<int>(states_.size());
        return piece < count ? states_[static_cast<std::size_t>(piece)]
                             : recoveryStates_[static_cast<std::size_t>(piece - count)];
    }

    // Whether the medium has room for the new file beside the old one; where it cannot be told,
    // the new file is tried.
    bool RoomForBoth() {
        if (plan_.existingLength.value_or(0) <= 0) return true;
        const auto free = folder_->FreeBytes();
        return !free || *free >= plan_.total;
    }

    bool LostPieceAmongPieces() const {
        return std::ranges::any_of(
            lost_, [&](int piece) { return piece < static_cast<int>(plan_.lengths.size()); });
    }

    // The whole file into `output`: the pieces copied and checked; where some are lost or turn
    // out damaged, rebuilt from the rest and the recovery pieces.
    Report WriteWhole(platform::File& output) {
        if (LostPieceAmongPieces()) return Rebuild(&output);
        const Report written = WriteAll(output, 1);
        if (written.Done() || !damageFound_ || !code_) return written;
        if (const auto found = FindDamagedPieces(); !found.Done()) return found;
        if (!LostPieceAmongPieces()) return written;
        return Rebuild(&output);
    }

    // Where no new file can stand beside the target: the pieces are first checked against the
    // checksum file (and any lost ones rebuilt, in memory), then written over the target itself.
    // Without a checksum file nothing could tell a damaged piece before the old bytes are gone,
    // so only an empty or missing target is written so.
    JoinResult WriteInPlace() {
        if (!plan_.Verified() && plan_.existingLength.value_or(0) > 0) return Result(Refusal());
        // Written in place, the old file keeps its owner and group: only where they may have
        // the joined bytes.
        if (plan_.existingLength && (!plan_.keep.owner || !plan_.keep.group))
            return Result(Refusal());
        if (plan_.Verified() && !LostPieceAmongPieces()) {
            Discard discard;
            const Report checked = WriteAll(discard, 2);
            if (!checked.Done() && (!damageFound_ || !code_)) return Result(checked);
            if (!checked.Done()) {
                if (const auto found = FindDamagedPieces(); !found.Done()) return Result(found);
                if (!LostPieceAmongPieces()) return Result(checked);
            }
        }
        if (LostPieceAmongPieces()) {
            const Report checked = Rebuild(nullptr);
            if (!checked.Done()) return Result(checked);
        }
        held_.reset();
        inPlace_ = true;
        const auto target = folder_->OpenOrCreate(name_, plan_.permissions);
        if (!target) return Result(Refusal());
        const auto info = target->Info();
        if (!info.Exists() || (heldInfo_.Exists() && !platform::SameFile(info, heldInfo_)))
            return Result(Refusal());
        if ((info.permissions & ~plan_.permissions & platform::kPermissionBits) != 0 &&
            !target->SetPermissions(info.permissions & plan_.permissions))
            return Result(Refusal());
        Report written;
        if (LostPieceAmongPieces())
            written = Rebuild(target.get());
        else
            written = plan_.Verified() ? WriteAll(*target, 2, plan_.total) : WriteAll(*target, 1);
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
        // The digests are compared in order, as many pieces behind the copy as there are threads
        // to hash them; the last ones before the file is taken as whole.
        DigestChecks checks(copier, [&](std::int64_t piece) {
            return plan_.digests[static_cast<std::size_t>(piece)];
        });
        const auto count = std::ssize(plan_.lengths);
        std::int64_t offset = 0;
        for (std::int64_t n = 1; n <= count; ++n) {
            if (auto problem = CheckUpTo(checks, n - 1 - checks.Lag())) return *problem;
            const auto length = plan_.lengths[static_cast<std::size_t>(n - 1)];
            const auto piece =
                folder_->OpenForReading(PieceName(name_, n, plan_.request.extension), Follow::Yes);
            if (!piece) return Refusal();
            const auto info = piece->Info();
            if (info.kind != EntryKind::RegularFile) return Fail();
            pieceBits &= info.permissions;
            // A piece that changed since the check must never be passed off as joined.
            if (info.length != length) return plan_.Verified() ? Damaged(n) : Fail();
            switch (copier.Copy(*piece, output, length, {&output, offset})) {
                case CopyStatus::Done:
                    break;
                case CopyStatus::Cancelled:
                    return Cancelled();
                case CopyStatus::OutputFailed:
                    return Refusal();
                case CopyStatus::InputShort:
                case CopyStatus::InputFailed:
                    return plan_.Verified() ? Damaged(n) : Fail();
            }
            offset += length;
        }
        if (auto problem = CheckUpTo(checks, count)) return *problem;
        if (control_.Cancelled()) return Cancelled();
        copier.TellProgress();
        return Narrow(output, pieceBits);
    }

    // Compares the digests of the pieces copied, in order, up to `upTo` of them: the first
    // whose bytes do not match its checksum is damaged; bytes that could not be read again from
    // the file they were written into are the file's failure.
    std::optional<Report> CheckUpTo(DigestChecks& checks, std::int64_t upTo) {
        if (!plan_.Verified()) return std::nullopt;
        switch (checks.UpTo(upTo)) {
            case DigestChecks::Outcome::Matched:
                return std::nullopt;
            case DigestChecks::Outcome::Mismatched:
                return Damaged(checks.Checked() + 1);
            case DigestChecks::Outcome::Unread:
                break;
        }
        return control_.Cancelled() ? Cancelled() : Refusal();
    }

    // A piece made more private since the check makes the joined file so too.
    Report Narrow(platform::File& output, platform::Permissions pieceBits) const {
        const auto narrowed = plan_.permissions & pieceBits;
        if (narrowed != plan_.permissions && !output.SetPermissions(narrowed)) return Refusal();
        return {};
    }

    // Reads a piece (from 0, a recovery piece after the others) whole into `output` through
    // `copier`, when it is there and of its length; false when it is not, or could not be read.
    std::optional<CopyStatus> ReadPiece(int piece, platform::File& output, CopyLoop& copier,
                                        platform::Permissions& pieceBits) {
        const auto count = static_cast<int>(plan_.lengths.size());
        const bool recovery = piece >= count;
        const std::string name =
            recovery ? RecoveryPieceName(name_, piece - count + 1, plan_.request.extension)
                     : PieceName(name_, piece + 1, plan_.request.extension);
        const std::int64_t length =
            recovery ? plan_.recoveryLength : plan_.lengths[static_cast<std::size_t>(piece)];
        const auto file = folder_->OpenForReading(name, Follow::Yes);
        if (!file) return std::nullopt;
        const auto info = file->Info();
        if (info.kind != EntryKind::RegularFile || info.length != length) return std::nullopt;
        if (!recovery) pieceBits &= info.permissions;
        return copier.Copy(*file, output, length);
    }

    const Digest& DigestOf(int piece) const {
        const auto count = static_cast<int>(plan_.lengths.size());
        return piece < count ? plan_.digests[static_cast<std::size_t>(piece)]
                             : plan_.recoveryDigests[static_cast<std::size_t>(piece - count)];
    }

    // After a piece turned out damaged: every piece is checked, so that all the damaged ones
    // are known before the rebuild.
    Report FindDamagedPieces() {
        const auto count = static_cast<int>(plan_.lengths.size());
        CopyLoop copier(plan_.total, control_, true);
        Discard discard;
        platform::Permissions unused = 0;
        for (int piece = 0; piece < count; ++piece) {
            if (std::ranges::find(lost_, piece) != lost_.end()) continue;
            const auto read = ReadPiece(piece, discard, copier, unused);
            if (read == CopyStatus::Cancelled) return Cancelled();
            const bool whole = read == CopyStatus::Done;
            const auto digest = whole ? copier.NextDigest() : std::nullopt;
            if (whole && !digest) return control_.Cancelled() ? Cancelled() : Refusal();
            if (!whole || *digest != DigestOf(piece)) MarkLost(piece);
        }
        copier.TellProgress();
        return TooManyLost() ? Fail(messages::TooManyLost(std::ssize(lost_),
                                                          std::ssize(plan_.recoveryDigests)))
                             : Report{};
    }

    void MarkLost(int piece) {
        StateOf(piece) = PieceState::Damaged;
        if (std::ranges::find(lost_, piece) == lost_.end()) lost_.push_back(piece);
    }

    bool TooManyLost() const { return std::ssize(lost_) > std::ssize(plan_.recoveryDigests); }

    // Rebuilds the lost pieces from the others and the recovery pieces, and writes the whole
    // file into `output` (with none, only works it out, in memory, to see that it can be done).
    // Every piece read is checked against its checksum, every rebuilt one too; a read piece
    // found damaged is lost as well, and the rebuild starts again while the recovery pieces can
    // still make up for every lost one.
    Report Rebuild(platform::File* output) {
        for (;;) {
            if (TooManyLost())
                return Fail(
                    messages::TooManyLost(std::ssize(lost_), std::ssize(plan_.recoveryDigests)));
            bool damaged = false;
            const Report attempt = RebuildOnce(output, damaged);
            if (!damaged) return attempt;
        }
    }

    Report RebuildOnce(platform::File* output, bool& damaged) {
        std::ranges::sort(lost_);
        const auto rebuild = code_->PlanRebuild(lost_);
        if (!rebuild) return Fail();
        CodedPieces coded(*code_, static_cast<int>(rebuild->Rebuilt().size()));
        // The rebuilt pieces grow in memory where they fit; else in their own places in the new
        // file, which starts as zeros. In place, the target's bytes stay until all is checked,
        // so there they must fit memory.
        if (coded.InFiles()) {
            if (output == nullptr || inPlace_) return Fail();
            if (!output->Truncate(0)) return Refusal();
            for (std::size_t b = 0; b < rebuild->Rebuilt().size(); ++b)
                coded.SetPlace(static_cast<int>(b), {output, rebuild->Rebuilt()[b] * plan_.chunk});
        }
        std::vector<std::vector<CodeCoefficient>> weights;
        std::int64_t readBytes = 0;
        for (const int piece : rebuild->Reads()) {
            weights.push_back(rebuild->CoefficientsFor(piece));
            readBytes += piece < std::ssize(plan_.lengths)
                             ? plan_.lengths[static_cast<std::size_t>(piece)]
                             : plan_.recoveryLength;
        }
        CopyLoop copier(progressBase_ + readBytes, control_, true, progressBase_);
        // Each read piece's bytes start on another rebuilt piece, so that the hashing threads
        // seldom wait for one another.
        copier.Observe(
            [&](std::int64_t copy, std::int64_t offset, std::span<const std::byte> bytes) {
                const auto& weight = weights[static_cast<std::size_t>(copy)];
                const auto count = std::ssize(weight);
                for (std::int64_t k = 0; k < count; ++k) {
                    const auto b = static_cast<std::size_t>((copy + k) % count);
                    if (!coded.Add(static_cast<int>(b), weight[b], bytes, offset)) return false;
                }
                return true;
            });
        Discard discard;
        platform::Permissions pieceBits = platform::kPermissionBits;
        const auto& reads = rebuild->Reads();
        // A piece read and found damaged is lost as well: the rebuild starts again. The digests
        // are compared in order, behind the reading as in a join without losses.
        const auto lose = [&](int piece) {
            MarkLost(piece);
            damaged = true;
            progressBase_ += readBytes;
            return Report{};
        };
        DigestChecks checks(copier, [&](std::int64_t copy) {
            return DigestOf(reads[static_cast<std::size_t>(copy)]);
        });
        const auto check = [&](std::int64_t upTo) -> std::optional<Report> {
            switch (checks.UpTo(upTo)) {
                case DigestChecks::Outcome::Matched:
                    return std::nullopt;
                case DigestChecks::Outcome::Mismatched:
                    return lose(reads[static_cast<std::size_t>(checks.Checked())]);
                case DigestChecks::Outcome::Unread:
                    break;
            }
            return control_.Cancelled() ? Cancelled() : Refusal();
        };
        const auto count = std::ssize(reads);
        for (std::int64_t copy = 0; copy < count; ++copy) {
            if (auto problem = check(copy - checks.Lag())) return *problem;
            const int piece = reads[static_cast<std::size_t>(copy)];
            const bool isPiece = piece < std::ssize(plan_.lengths);
            AtOffset place(output ? *output : discard, isPiece ? piece * plan_.chunk : 0);
            platform::File& to = output && isPiece ? static_cast<platform::File&>(place) : discard;
            const auto read = ReadPiece(piece, to, copier, pieceBits);
            if (read == CopyStatus::Cancelled) return Cancelled();
            if (read == CopyStatus::OutputFailed) return Refusal();
            if (read != CopyStatus::Done) {
                if (auto problem = check(copy)) return *problem;  // a piece before it first
                return lose(piece);
            }
        }
        if (auto problem = check(count)) return *problem;
        copier.TellProgress();
        if (copier.ObserverFailed()) return Refusal();
        if (const Report placed = CheckAndPlaceRebuilt(*rebuild, coded, output); !placed.Done())
            return placed;
        if (control_.Cancelled()) return Cancelled();
        if (output != nullptr && !output->Truncate(plan_.total)) return Refusal();
        rebuilt_ = std::ssize(rebuild->Rebuilt());
        return output ? Narrow(*output, pieceBits) : Report{};
    }

    // Each rebuilt piece must match its checksum before it takes its place in the file.
    Report CheckAndPlaceRebuilt(const RebuildPlan& rebuild, CodedPieces& coded,
                                platform::File* output) {
        std::vector<std::byte> buffer(kCopyBufferBytes);
        for (std::size_t b = 0; b < rebuild.Rebuilt().size(); ++b) {
            const int piece = rebuild.Rebuilt()[b];
            const auto length = plan_.lengths[static_cast<std::size_t>(piece)];
            Sha256 sha;
            for (std::int64_t at = 0; at < length; at += std::ssize(buffer)) {
                const auto part = std::span(buffer).first(
                    static_cast<std::size_t>(std::min(length - at, std::ssize(buffer))));
                if (!coded.Read(static_cast<int>(b), part, at)) return Refusal();
                sha.Update(part);
                if (output && !coded.InFiles() && !output->WriteAt(part, piece * plan_.chunk + at))
                    return Refusal();
            }
            if (sha.Finish() != DigestOf(piece)) return Damaged(piece + 1);
        }
        return {};
    }

    const JoinPlan& plan_;
    const OperationControl& control_;
    platform::FileSystem& files_;
    const std::string& target_;
    const std::string name_;
    std::vector<PieceState> states_;
    std::vector<PieceState> recoveryStates_;
    std::vector<int> lost_;
    std::optional<RecoveryCode> code_;
    bool damageFound_ = false;
    bool inPlace_ = false;
    std::int64_t rebuilt_ = 0;
    std::int64_t progressBase_ = 0;
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

JoinResult WriteJoinInto(const JoinPlan& plan, platform::File& output,
                         const OperationControl& control, platform::FileSystem& files) {
    return JoinRun(plan, control, files).RunInto(output);
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
