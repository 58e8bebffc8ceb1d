// The command line's own texts: its name, what it is for, and what it says when it refuses a
// command line or a step. The operations' outcomes are the engine's texts, word for word.
#pragma once

namespace tessel::cli::texts {

inline constexpr char kProgram[] = "tessel-cli";
inline constexpr char kPurpose[] =
    "Break a file into pieces of a fixed size, join them back, check and repair them, from a "
    "terminal or a script.";

inline constexpr char kNoOutputFolder[] =
    "there is no home folder to put the pieces in: give --output DIR";
inline constexpr char kBlankOutputFolder[] = "the output folder's name is empty";
// "NAME already holds N bytes: give --force to replace it", around the file's name and length.
inline constexpr char kTargetHoldsOpen[] = " already holds ";
inline constexpr char kTargetHoldsClose[] = " bytes: give --force to replace it";

// What verify and repair show while they read the pieces.
inline constexpr char kVerifying[] = "Checking pieces...";
inline constexpr char kRepairing[] = "Repairing pieces...";

// verify's word for each piece, "PATH: WORD", and repair's for each piece it wrote anew.
inline constexpr char kPieceIntact[] = "OK";
inline constexpr char kPieceMissing[] = "MISSING";
inline constexpr char kPieceDamaged[] = "DAMAGED";
inline constexpr char kPieceRepaired[] = "REPAIRED";

// verify's last line, after NAME: the whole set intact; every piece intact but some recovery
// pieces ("..., but 1 recovery piece is missing or damaged"); pieces lost that the recovery
// pieces make up for, or more than they can ("...: K pieces are missing or damaged, at most R
// can be rebuilt", the last part only where there are recovery pieces).
inline constexpr char kSetWhole[] = " can be joined: every piece is intact";
inline constexpr char kRecoveryLost[] = " can be joined, but ";
inline constexpr char kSetRebuildable[] = " can be rebuilt from its recovery pieces: ";
inline constexpr char kSetBroken[] = " cannot be joined: ";
inline constexpr char kLost[] = " missing or damaged";
inline constexpr char kPiece[] = "piece";
inline constexpr char kRecoveryPiece[] = "recovery piece";
inline constexpr char kAtMostOpen[] = ", at most ";
inline constexpr char kAtMostClose[] = " can be rebuilt";

// repair's last line, after NAME: nothing was lost, or "NAME: K pieces repaired, ...".
inline constexpr char kNothingToRepair[] = ": every piece is intact, nothing to repair";
inline constexpr char kRepairedClose[] = " repaired, every piece is intact";

}  // namespace tessel::cli::texts
