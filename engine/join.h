// Rebuilding a file from the pieces named after it, in two steps: a check of the pieces that
// says what the join will do and writes nothing, then the writing of the whole file. Each
// returns what it found and what it came to, piece by piece.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "engine/progress.h"
#include "engine/report.h"
#include "engine/shared_settings.h"
#include "platform/file_system.h"

namespace tessel {

// What the user asked to rebuild: the file, whose pieces lie beside it.
struct JoinRequest {
    std::string targetPath;
    std::string extension = kDefaultPieceExtension;
};

// What became of one piece.
enum class PieceState {
    Found,    // there, of the length expected, not (yet) found damaged
    Missing,  // not there, or not a regular file
    Damaged,  // of the wrong length, or its bytes do not match its checksum
};

// What the check found, for the writing step.
struct JoinPlan {
    JoinRequest request;
    std::vector<std::int64_t> lengths;  // piece n's length at n - 1
    std::vector<Digest> digests;        // from the checksum file; empty without one
    std::int64_t total = 0;
    // Recovery pieces, where the checksum file lists them: their digests (recovery piece j's at
    // j - 1), their code and length, and the pieces found missing or of the wrong length
    // (counted from 0: piece n is n - 1, recovery piece j is N + j - 1), to be rebuilt.
    std::vector<Digest> recoveryDigests;
    std::string code;
    std::int64_t recoveryLength = 0;
    std::int64_t chunk = 0;  // the pieces' length but for the last: where each lands
    std::vector<int> lost;
    std::optional<std::int64_t> existingLength;  // the target's, when it exists
    // The joined file's permission bits: none that a piece lacks, none that the umask takes,
    // none that the file it replaces lacks.
    platform::Permissions permissions = 0;
    // What the joined file keeps of the file it replaces: its owner and group only where they
    // could read every piece already, so that a file planted under the target's name is never
    // handed the joined bytes.
    platform::Ownership keep;

    bool Verified() const { return !digests.empty(); }
    bool Recoverable() const { return !recoveryDigests.empty(); }
};

struct JoinCheck {
    Report report;                           // Done when the join may go on
    std::vector<PieceState> pieces;          // each piece the join needs, as the check found it
    std::vector<PieceState> recoveryPieces;  // each listed recovery piece, likewise
    std::optional<JoinPlan> plan;            // with a Done report only
};

struct JoinResult {
    Report report;
    std::vector<PieceState> pieces;          // each piece, as the writing found it
    std::vector<PieceState> recoveryPieces;  // each recovery piece it looked at, likewise
    bool verified = false;                   // every piece matched its checksum
    std::int64_t bytesWritten = 0;           // bytes in the target, when it was rebuilt
    std::int64_t rebuilt = 0;                // pieces rebuilt from the recovery pieces
};

// "Error - Piece N is missing" or "Error - Piece N is damaged".
std::string PieceText(std::int64_t n, PieceState state);

// The request the shared settings make of `targetPath`.
JoinRequest JoinRequestFrom(const SharedSettings& settings, const std::string& targetPath);

// Finds and checks the pieces of the target: those its checksum file lists where there is one,
// else the unbroken run from piece 1. Writes nothing.
JoinCheck CheckJoin(const JoinRequest& request,
                    platform::FileSystem& files = platform::DefaultFileSystem());

// Writes the pieces, in order, into a new file that replaces the target only once it is whole
// (and every piece matched its checksum). On any failure or cancel the target keeps its bytes.
// Where no new file can stand beside the target, the pieces are checked first and then written
// into the target itself.
JoinResult WriteJoin(const JoinPlan& plan, const OperationControl& control = {},
                     platform::FileSystem& files = platform::DefaultFileSystem());

// The writing step into `output` instead of the target, which is left alone: the whole file,
// its pieces checked and lost ones rebuilt, for a repair of the pieces.
JoinResult WriteJoinInto(const JoinPlan& plan, platform::File& output,
                         const OperationControl& control = {},
                         platform::FileSystem& files = platform::DefaultFileSystem());

// The whole join: the check, then the writing, with their texts taken into `settings`. Returns
// whether the whole file was rebuilt.
bool JoinFiles(SharedSettings& settings, const std::string& targetPath,
               const OperationControl& control = {},
               platform::FileSystem& files = platform::DefaultFileSystem());

}  // namespace tessel
