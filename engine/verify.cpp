#include "engine/verify.h"

#include <algorithm>
#include <span>

#include "engine/coded_pieces.h"
#include "engine/copy_loop.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"
#include "engine/recovery_code.h"

namespace tessel {
namespace {

using platform::EntryKind;
using platform::Follow;

std::int64_t CountLost(const std::vector<PieceState>& states) {
    return std::ranges::count_if(states,
                                 [](PieceState state) { return state != PieceState::Found; });
}

// A set as its checksum file lists it, in its folder.
struct ListedSet {
    std::unique_ptr<platform::Folder> folder;
    std::string name;
    ChecksumList list;
    std::optional<RecoveryCode> code;

    std::int64_t Pieces() const { return list.Pieces(); }
    // Piece from 0: the numbered ones, then the recovery ones.
    std::string NameOf(std::int64_t piece, const std::string& extension) const {
        return piece < Pieces() ? PieceName(name, piece + 1, extension)
                                : RecoveryPieceName(name, piece - Pieces() + 1, extension);
    }
    // The length a piece must have; nothing where a plain list does not say.
    std::optional<std::int64_t> LengthOf(std::int64_t piece) const {
        if (!list.header) return std::nullopt;
        if (piece >= Pieces()) return code->RecoveryLength();
        return PieceLength(list.header->size, list.header->chunk, piece + 1);
    }
    const Digest& DigestOf(std::int64_t piece) const {
        return piece < Pieces() ? list.digests[static_cast<std::size_t>(piece)]
                                : list.recoveryDigests[static_cast<std::size_t>(piece - Pieces())];
    }
};

// Opens the folder and reads the checksum file; a Done report when both went well.
Report ReadSet(const JoinRequest& request, platform::FileSystem& files, ListedSet& set) {
    const std::string& target = request.targetPath;
    const auto fail = [&](std::optional<std::string_view> status = std::nullopt) {
        return Failure(messages::kJoinFailure, target, status);
    };
    set.folder = files.OpenFolder(FolderOf(target));
    if (!set.folder) return fail();
    set.name = FileNamePart(target);
    const std::string listName = set.name + kChecksumSuffix;
    if (set.folder->Examine(listName, Follow::No).kind != EntryKind::RegularFile)
        return fail(messages::kChecksumFileUnreadable);
    if (const auto refusal = ListRefusal(
            ReadChecksumFile(*set.folder, listName, set.name, request.extension, set.list)))
        return fail(*refusal);
    if (set.list.RecoveryPieces() > 0) {
        const auto& header = *set.list.header;
        set.code = RecoveryCode::FromName(header.code, static_cast<int>(header.pieces),
                                          static_cast<int>(header.recovery),
                                          PieceLength(header.size, header.chunk, 1));
        if (!set.code) return fail(messages::kChecksumFileUnreadable);
    }
    return {};
}

// Reads one piece whole into nothing, and says what it is.
PieceState CheckPiece(const ListedSet& set, std::int64_t piece, const std::string& extension,
                      CopyLoop& copier, Report& report) {
    const std::string name = set.NameOf(piece, extension);
    const auto info = set.folder->Examine(name, Follow::Yes);
    if (info.kind == EntryKind::Unknown) report = Failure(messages::kJoinFailure, name);
    if (info.kind != EntryKind::RegularFile) return PieceState::Missing;
    const auto expected = set.LengthOf(piece);
    if (expected && info.length != *expected) return PieceState::Damaged;
    const auto file = set.folder->OpenForReading(name, Follow::Yes);
    if (!file) {
        report = StatusOnly(Outcome::Failed, messages::kJoinFailed);
        return PieceState::Missing;
    }
    Discard discard;
    const auto cancelled = [&] {
        report = StatusOnly(Outcome::Cancelled, messages::kJoinCancelled);
        return PieceState::Found;
    };
    switch (copier.Copy(*file, discard, info.length)) {
        case CopyStatus::Done:
            break;
        case CopyStatus::Cancelled:
            return cancelled();
        default:
            return PieceState::Damaged;
    }
    // The bytes pass through the loop's buffers: only a cancel leaves them unhashed.
    const auto digest = copier.NextDigest();
    copier.TellProgress();
    if (!digest) return cancelled();
    return *digest == set.DigestOf(piece) ? PieceState::Found : PieceState::Damaged;
}

VerifyResult Verify(const JoinRequest& request, const OperationControl& control,
                    platform::FileSystem& files, ListedSet& set) {
    VerifyResult result;
    result.report = ReadSet(request, files, set);
    if (!result.report.Done()) return result;
    std::int64_t total = 0;
    const std::int64_t all = set.Pieces() + set.list.RecoveryPieces();
    for (std::int64_t piece = 0; piece < all; ++piece) total += set.LengthOf(piece).value_or(0);
    CopyLoop copier(total, control, true);
    for (std::int64_t piece = 0; piece < all && result.report.Done(); ++piece) {
        const PieceState state = CheckPiece(set, piece, request.extension, copier, result.report);
        (piece < set.Pieces() ? result.pieces : result.recoveryPieces).push_back(state);
    }
    return result;
}

// A piece written anew into `file`, made for its name: `fill` hands over its bytes in order
// (and `written` says whether they stand in the file already); it takes the name only when its
// digest is the one listed.
Report WriteAnew(const ListedSet& set, std::int64_t piece, const std::string& extension,
                 platform::Replacement& file, std::int64_t length, bool written,
                 const std::function<bool(std::span<std::byte>, std::int64_t)>& fill) {
    const auto failed = [&] {
        return Failure(messages::kJoinFailure, set.NameOf(piece, extension));
    };
    std::vector<std::byte> buffer(kCopyBufferBytes);
    Sha256 sha;
    for (std::int64_t at = 0; at < length; at += std::ssize(buffer)) {
        const auto part = std::span(buffer).first(
            static_cast<std::size_t>(std::min(length - at, std::ssize(buffer))));
        if (!fill(part, at) || (!written && !file.Write(part))) return failed();
        sha.Update(part);
    }
    if (sha.Finish() != set.DigestOf(piece)) return failed();
    if (!file.Flush() || !file.Commit({false, false})) return failed();
    return {};
}

// The lost recovery pieces, made as a split makes them, from every piece of the whole file: in
// memory where they fit, else in their new files.
Report RemakeRecoveryPieces(const ListedSet& set, const std::string& extension,
                            const VerifyResult& found, platform::File& whole,
                            platform::Permissions permissions, std::int64_t& repaired) {
    std::vector<int> rows;
    for (std::size_t j = 0; j < found.recoveryPieces.size(); ++j)
        if (found.recoveryPieces[j] != PieceState::Found) rows.push_back(static_cast<int>(j));
    if (rows.empty()) return {};
    const auto failed = [&] { return Failure(messages::kJoinFailure, set.name); };
    CodedPieces coded(*set.code, static_cast<int>(rows.size()));
    std::vector<std::unique_ptr<platform::Replacement>> files;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        files.push_back(set.folder->CreateReplacement(set.NameOf(set.Pieces() + rows[k], extension),
                                                      permissions));
        if (!files.back()) return failed();
        if (coded.InFiles()) coded.SetPlace(static_cast<int>(k), {files.back().get(), 0});
    }
    const auto chunk = set.list.header->chunk;
    std::vector<std::byte> buffer(kCopyBufferBytes);
    for (std::int64_t piece = 0; piece < set.Pieces(); ++piece) {
        const auto length = *set.LengthOf(piece);
        for (std::int64_t at = 0; at < length; at += std::ssize(buffer)) {
            const auto part = std::span(buffer).first(
                static_cast<std::size_t>(std::min(length - at, std::ssize(buffer))));
            if (whole.ReadAt(part, piece * chunk + at) != part.size()) return failed();
            for (std::size_t k = 0; k < rows.size(); ++k)
                if (!coded.Add(static_cast<int>(k),
                               set.code->Coefficient(rows[k], static_cast<int>(piece)), part, at))
                    return failed();
        }
    }
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const Report written =
            WriteAnew(set, set.Pieces() + rows[k], extension, *files[k], coded.Length(),
                      coded.InFiles(), [&](std::span<std::byte> part, std::int64_t at) {
                          return coded.Read(static_cast<int>(k), part, at);
                      });
        if (!written.Done()) return written;
        ++repaired;
    }
    return {};
}

// Why a set cannot be repaired, as the join says it: without recovery pieces, the first piece
// lost; with them, how many are lost against how many they can make up for.
std::string RefusalOf(const VerifyResult& found) {
    if (!found.recoveryPieces.empty())
        return messages::TooManyLost(found.Lost(), std::ssize(found.recoveryPieces));
    const auto lost = std::ranges::find_if(
        found.pieces, [](PieceState state) { return state != PieceState::Found; });
    return PieceText(lost - found.pieces.begin() + 1, *lost);
}

}  // namespace

std::int64_t VerifyResult::Lost() const {
    return CountLost(pieces) + CountLost(recoveryPieces);
}

bool VerifyResult::Joinable() const {
    return report.Done() && CountLost(pieces) == 0;
}

bool VerifyResult::Rebuildable() const {
    return report.Done() && !Joinable() && Lost() <= std::ssize(recoveryPieces);
}

VerifyResult VerifyPieces(const JoinRequest& request, const OperationControl& control,
                          platform::FileSystem& files) {
    ListedSet set;
    return Verify(request, control, files, set);
}

RepairResult RepairPieces(const JoinRequest& request, const OperationControl& control,
                          platform::FileSystem& files) {
    RepairResult result;
    ListedSet set;
    result.before = Verify(request, control, files, set);
    result.report = result.before.report;
    if (!result.report.Done() || result.before.Lost() == 0) return result;
    if (!result.before.Joinable() && !result.before.Rebuildable()) {
        result.report =
            Failure(messages::kJoinFailure, request.targetPath, RefusalOf(result.before));
        return result;
    }
    // The whole file, every lost piece rebuilt, in a file that takes no name: the lost pieces
    // are cut from it, the lost recovery pieces worked out from it again.
    const JoinCheck check = CheckJoin(request, files);
    if (!check.plan) {
        result.report = check.report;
        return result;
    }
    const auto whole = set.folder->CreateReplacement(set.name, platform::kOwnerOnly);
    if (!whole) {
        result.report = Failure(messages::kJoinFailure, request.targetPath);
        return result;
    }
    const JoinResult joined = WriteJoinInto(*check.plan, *whole, control, files);
    if (!joined.report.Done()) {
        result.report = joined.report;
        return result;
    }
    const auto chunk = set.list.header->chunk;
    const auto permissions = check.plan->permissions;
    for (std::int64_t piece = 0; piece < set.Pieces(); ++piece) {
        if (result.before.pieces[static_cast<std::size_t>(piece)] == PieceState::Found) continue;
        const auto file =
            set.folder->CreateReplacement(set.NameOf(piece, request.extension), permissions);
        result.report =
            file ? WriteAnew(set, piece, request.extension, *file, *set.LengthOf(piece), false,
                             [&](std::span<std::byte> part, std::int64_t at) {
                                 return whole->ReadAt(part, piece * chunk + at) == part.size();
                             })
                 : Failure(messages::kJoinFailure, request.targetPath);
        if (!result.report.Done()) return result;
        ++result.repaired;
    }
    result.report = RemakeRecoveryPieces(set, request.extension, result.before, *whole, permissions,
                                         result.repaired);
    return result;
}

}  // namespace tessel
