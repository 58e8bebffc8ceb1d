#include "engine/join.h"

#include <algorithm>
#include <string_view>

#include "engine/copy_loop.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"

namespace tessel {
namespace {

using platform::EntryKind;

// The largest checksum file read: one line for each of the most pieces, with long names.
constexpr std::int64_t kMaxChecksumFileBytes = std::int64_t{64} << 20;

void SetFailureInfo(SharedSettings& settings, const std::string& target) {
    settings.InfoMessage = messages::kJoinFailedInfoOpen + target + messages::kFailedInfoClose;
}

// An unexpected error: the pieces could not be joined at all.
Outcome FailJoin(SharedSettings& settings, const std::string& target) {
    SetFailureInfo(settings, target);
    settings.StatusMessage = messages::kJoinFailed;
    return Outcome::Failed;
}

// A file could not be opened or written: the status line must still say that the join failed.
Outcome RefuseJoin(SharedSettings& settings) {
    settings.StatusMessage = messages::kJoinFailed;
    return Outcome::Failed;
}

// A join stopped by what the checksum file says: its own status text, and the failure text.
Outcome FailChecked(SharedSettings& settings, const std::string& target, std::string status) {
    SetFailureInfo(settings, target);
    settings.StatusMessage = std::move(status);
    return Outcome::Failed;
}

std::string PieceText(std::int64_t n, const char* close) {
    return messages::kPieceOpen + std::to_string(n) + close;
}

// The folder part of `path`, before its last separator: "." when there is none.
std::string FolderOf(const std::string& path) {
    const auto last = path.rfind(platform::PathSeparator());
    if (last == std::string::npos) return ".";
    return last == 0 ? path.substr(0, 1) : path.substr(0, last);
}

// The number of the piece `entry` names, when it is one: name, ".", decimal digits without a
// leading zero, extension. Numbers too long to hold count as the largest.
std::optional<std::int64_t> PieceNumberOf(std::string_view entry, std::string_view name,
                                          std::string_view extension) {
    if (entry.size() <= name.size() + 1 + extension.size() || !entry.starts_with(name) ||
        entry[name.size()] != '.' || !entry.ends_with(extension))
        return std::nullopt;
    const auto digits =
        entry.substr(name.size() + 1, entry.size() - name.size() - 1 - extension.size());
    if (digits.front() == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    if (digits.size() > 18) return INT64_MAX;
    return std::stoll(std::string(digits));
}

// Whether a piece numbered above `count` lies in the target's folder: the run of pieces from 1
// stopped at a gap, and joining only the run would hand back a truncated file. Nothing when the
// folder cannot be listed, so that the question cannot be answered.
std::optional<bool> PieceBeyondGapExists(const std::string& target, std::int64_t count,
                                         const std::string& extension,
                                         platform::FileSystem& files) {
    const std::string folder = FolderOf(target);
    const std::string name = FileNamePart(target);
    const auto entries = files.ListFolder(folder);
    if (!entries) return std::nullopt;
    return std::ranges::any_of(*entries, [&](const std::string& entry) {
        const auto number = PieceNumberOf(entry, name, extension);
        return number && *number > count && files.IsOrdinaryFile(JoinPath(folder, entry));
    });
}

enum class CountOutcome { NoFirstPiece, TooMany, Counted };

// Counts the unbroken run of pieces from number 1.
CountOutcome CountPieces(const std::string& target, const std::string& extension,
                         platform::FileSystem& files, std::int64_t& count) {
    count = 0;
    while (files.IsOrdinaryFile(PieceName(target, count + 1, extension))) {
        if (++count > kMaxPieces) return CountOutcome::TooMany;
    }
    return count == 0 ? CountOutcome::NoFirstPiece : CountOutcome::Counted;
}

std::optional<std::string> ReadWhole(const std::string& path, platform::FileSystem& files) {
    const auto length = files.FileLength(path);
    const auto file = files.OpenForReading(path);
    if (!length || *length > kMaxChecksumFileBytes || !file) return std::nullopt;
    std::string text(static_cast<std::size_t>(*length), '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const auto got = file->Read(std::as_writable_bytes(std::span(text)).subspan(filled));
        if (!got) return std::nullopt;
        if (*got == 0) break;
        filled += *got;
    }
    text.resize(filled);
    return text;
}

// The pieces the checksum file lists, each there and of the length the file's header implies.
bool PlanFromChecksumFile(SharedSettings& settings, JoinPlan& plan, const std::string& checksumPath,
                          platform::FileSystem& files) {
    const std::string& target = plan.target;
    const auto text = ReadWhole(checksumPath, files);
    const auto list = text ? ParseChecksumFile(*text, FileNamePart(target), settings.PieceExtension)
                           : std::nullopt;
    if (!list) {
        FailChecked(settings, target, messages::kChecksumFileIncomplete);
        return false;
    }
    for (std::int64_t n = 1; n <= list->header.pieces; ++n) {
        const auto length = files.FileLength(PieceName(target, n, settings.PieceExtension));
        if (!length) {
            FailChecked(settings, target, PieceText(n, messages::kPieceMissingClose));
            return false;
        }
        if (*length != ExpectedPieceLength(list->header, n)) {
            FailChecked(settings, target, PieceText(n, messages::kPieceDamagedClose));
            return false;
        }
        plan.lengths.push_back(*length);
    }
    plan.digests = list->digests;
    return true;
}

// The unbroken run of pieces from 1, where no checksum file names them.
bool PlanFromNames(SharedSettings& settings, JoinPlan& plan, platform::FileSystem& files) {
    const std::string& target = plan.target;
    const std::string& extension = settings.PieceExtension;
    std::int64_t count = 0;
    switch (CountPieces(target, extension, files, count)) {
        case CountOutcome::NoFirstPiece:
            RefuseJoin(settings);
            return false;
        case CountOutcome::TooMany:
            FailJoin(settings, target);
            return false;
        case CountOutcome::Counted:
            break;
    }
    if (PieceBeyondGapExists(target, count, extension, files).value_or(true)) {
        FailJoin(settings, target);
        return false;
    }
    for (std::int64_t n = 1; n <= count; ++n) {
        const auto length = files.FileLength(PieceName(target, n, extension));
        if (!length) {
            FailJoin(settings, target);
            return false;
        }
        plan.lengths.push_back(*length);
    }
    return true;
}

// A target that is one of its own pieces would be written while it is read.
bool TargetIsAPiece(const JoinPlan& plan, const std::string& extension,
                    platform::FileSystem& files) {
    if (files.KindOf(plan.target) == EntryKind::Missing) return false;
    for (std::int64_t n = 1; n <= std::ssize(plan.lengths); ++n)
        if (files.IsSameFile(plan.target, PieceName(plan.target, n, extension))) return true;
    return false;
}

}  // namespace

std::optional<JoinPlan> CheckJoin(SharedSettings& settings, const std::string& targetPath,
                                  platform::FileSystem& files) {
    JoinPlan plan;
    plan.target = targetPath;
    const std::string& target = plan.target;
    settings.StatusMessage.clear();

    // The joined bytes may come from a shared folder: never through a link planted there.
    const EntryKind targetKind = files.KindOf(target);
    if (targetKind == EntryKind::Link) {
        FailJoin(settings, target);
        return std::nullopt;
    }
    const std::string checksumPath = target + kChecksumSuffix;
    const bool planned = files.IsOrdinaryFile(checksumPath)
                             ? PlanFromChecksumFile(settings, plan, checksumPath, files)
                             : PlanFromNames(settings, plan, files);
    if (!planned) return std::nullopt;
    if (TargetIsAPiece(plan, settings.PieceExtension, files)) {
        FailJoin(settings, target);
        return std::nullopt;
    }
    for (const auto length : plan.lengths) plan.total += length;
    if (targetKind == EntryKind::RegularFile) plan.existingLength = files.FileLength(target);
    plan.permissions = files.PermissionsOf(PieceName(target, 1, settings.PieceExtension))
                           .value_or(platform::kDefaultPermissions) &
                       0777;
    return plan;
}

Outcome WriteJoin(SharedSettings& settings, const JoinPlan& plan, const OperationControl& control,
                  platform::FileSystem& files) {
    const std::string& target = plan.target;
    const std::string& extension = settings.PieceExtension;
    settings.StatusMessage.clear();

    // The old file stays locked until its replacement takes its name: another program that
    // holds it keeps the join out, as it always did.
    std::unique_ptr<platform::File> oldFile;
    switch (files.KindOf(target)) {
        case EntryKind::Missing:
            break;
        case EntryKind::RegularFile:
            oldFile = files.HoldExclusive(target);
            if (!oldFile) return RefuseJoin(settings);
            break;
        case EntryKind::Link:
            return FailJoin(settings, target);
        case EntryKind::Other:
            return RefuseJoin(settings);
    }
    const auto output = files.CreateReplacement(target, plan.permissions);
    if (!output) return RefuseJoin(settings);

    CopyLoop copier(plan.total, control, plan.Verified());
    // A piece's digest is compared once the next piece is copied, so that hashing overlaps the
    // copy; the last one before the new file takes the target's name.
    const auto matchesList = [&](std::int64_t n) {
        return !plan.Verified() ||
               copier.NextDigest() == plan.digests[static_cast<std::size_t>(n - 1)];
    };
    for (std::int64_t n = 1; n <= std::ssize(plan.lengths); ++n) {
        const auto index = static_cast<std::size_t>(n - 1);
        const auto piece = files.OpenForReading(PieceName(target, n, extension));
        if (!piece) return RefuseJoin(settings);
        switch (copier.Copy(*piece, *output, plan.lengths[index])) {
            case CopyStatus::Done:
                break;
            case CopyStatus::Cancelled:
                settings.StatusMessage = messages::kJoinCancelled;
                return Outcome::Cancelled;
            case CopyStatus::OutputFailed:
                return RefuseJoin(settings);
            case CopyStatus::InputShort:
            case CopyStatus::InputFailed:
                // A piece that cannot be read whole must never be passed off as joined.
                if (!plan.Verified()) return FailJoin(settings, target);
                return FailChecked(settings, target, PieceText(n, messages::kPieceDamagedClose));
        }
        if (n > 1 && !matchesList(n - 1))
            return FailChecked(settings, target, PieceText(n - 1, messages::kPieceDamagedClose));
    }
    const auto last = std::ssize(plan.lengths);
    if (!matchesList(last))
        return FailChecked(settings, target, PieceText(last, messages::kPieceDamagedClose));
    if (control.Cancelled()) {
        settings.StatusMessage = messages::kJoinCancelled;
        return Outcome::Cancelled;
    }
    if (!output->Flush() || !output->Commit()) return RefuseJoin(settings);
    settings.StatusMessage = plan.Verified() ? messages::kJoinVerified : messages::kJoinSucceeded;
    return Outcome::Done;
}

bool JoinFiles(SharedSettings& settings, const std::string& targetPath,
               const OperationControl& control, platform::FileSystem& files) {
    const auto plan = CheckJoin(settings, targetPath, files);
    return plan && WriteJoin(settings, *plan, control, files) == Outcome::Done;
}

}  // namespace tessel
