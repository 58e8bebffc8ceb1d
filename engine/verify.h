// Checking a set of pieces against its checksum file without writing anything, and repairing
// it: every missing or damaged piece (numbered or recovery) written anew from the others.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/join.h"
#include "engine/progress.h"
#include "engine/report.h"
#include "platform/file_system.h"

namespace tessel {

struct VerifyResult {
    // Done when every piece could be looked at; Failed (with the join's failure texts) when the
    // checksum file is missing, cannot be read or is incomplete, or a piece cannot be opened.
    Report report;
    std::vector<PieceState> pieces;          // piece n's at n - 1
    std::vector<PieceState> recoveryPieces;  // recovery piece j's at j - 1

    std::int64_t Lost() const;
    bool Joinable() const;     // every piece intact
    bool Rebuildable() const;  // some lost, no more than the recovery pieces can make up for
};

// Reads every piece the checksum file of the request's target lists, and its recovery pieces,
// and checks each against its SHA-256.
VerifyResult VerifyPieces(const JoinRequest& request, const OperationControl& control = {},
                          platform::FileSystem& files = platform::DefaultFileSystem());

struct RepairResult {
    Report report;
    VerifyResult before;        // the pieces as they were found
    std::int64_t repaired = 0;  // pieces written anew
};

// Writes every missing or damaged piece anew from the others and the recovery pieces, each
// checked against its SHA-256 before it takes its name; an intact piece is never touched.
RepairResult RepairPieces(const JoinRequest& request, const OperationControl& control = {},
                          platform::FileSystem& files = platform::DefaultFileSystem());

}  // namespace tessel
