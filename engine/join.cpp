#include "engine/join.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/messages.h"
#include "engine/piece_naming.h"
#include "engine/stream_copy.h"

namespace tessel {
namespace {

// An unexpected error: the pieces could not be joined at all.
bool FailJoin(SharedSettings& settings, const std::string& target) {
    settings.InfoMessage = messages::kJoinFailedInfoOpen + target + messages::kFailedInfoClose;
    settings.StatusMessage = messages::kJoinFailed;
    return false;
}

// A file could not be opened or written: the status line must still say that the join failed.
bool RefuseJoin(SharedSettings& settings) {
    settings.StatusMessage = messages::kJoinFailed;
    return false;
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

// True when a piece numbered above `count` lies in the target's folder: the run of pieces from 1
// stopped at a gap, and joining only the run would hand back a truncated file.
bool PieceBeyondGapExists(const std::string& target, std::int64_t count,
                          const std::string& extension, platform::FileSystem& files) {
    const std::string folder = FolderOf(target);
    const std::string name = FileNamePart(target);
    for (const auto& entry : files.ListFolder(folder)) {
        const auto number = PieceNumberOf(entry, name, extension);
        if (number && *number > count && files.IsOrdinaryFile(JoinPath(folder, entry))) return true;
    }
    return false;
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

}  // namespace

bool JoinFiles(SharedSettings& settings, const std::string& targetPath,
               const ProgressCallback& progress, platform::FileSystem& files) {
    const std::string target = targetPath;
    const std::string& extension = settings.PieceExtension;
    settings.StatusMessage.clear();

    std::int64_t count = 0;
    switch (CountPieces(target, extension, files, count)) {
        case CountOutcome::NoFirstPiece:
            return RefuseJoin(settings);
        case CountOutcome::TooMany:
            return FailJoin(settings, target);
        case CountOutcome::Counted:
            break;
    }
    if (PieceBeyondGapExists(target, count, extension, files)) return FailJoin(settings, target);

    std::vector<std::int64_t> lengths;
    std::int64_t total = 0;
    for (std::int64_t n = 1; n <= count; ++n) {
        const auto length = files.FileLength(PieceName(target, n, extension));
        if (!length) return FailJoin(settings, target);
        lengths.push_back(*length);
        total += *length;
    }

    const auto output = files.OpenExclusive(target);
    if (!output) return RefuseJoin(settings);
    StreamCopier copier(total, progress);
    for (std::int64_t n = 1; n <= count; ++n) {
        const auto piece = files.OpenForReading(PieceName(target, n, extension));
        if (!piece) return RefuseJoin(settings);
        const std::int64_t length = lengths[static_cast<std::size_t>(n - 1)];
        const auto copied = copier.Copy(*piece, *output, length);
        if (copied.status == platform::CopyResult::Status::WriteFailed || !output->Flush())
            return RefuseJoin(settings);
        // A piece that cannot be read whole must never be passed off as joined.
        if (copied.status == platform::CopyResult::Status::ReadFailed || copied.copied != length)
            return FailJoin(settings, target);
    }
    // An older, longer file of that name must not keep its old bytes past the joined ones.
    if (!output->SetLength(total) || !output->Flush()) return RefuseJoin(settings);
    settings.StatusMessage = messages::kJoinSucceeded;
    return true;
}

}  // namespace tessel
