// The command line's own texts: its name, what it is for, and what it says when it refuses a
// command line or a step. The operations' outcomes are the engine's texts, word for word.
#pragma once

namespace tessel::cli::texts {

inline constexpr char kProgram[] = "tessel-cli";
inline constexpr char kPurpose[] =
    "Break a file into pieces of a fixed size and join them back, from a terminal or a script.";

inline constexpr char kNoOutputFolder[] =
    "there is no home folder to put the pieces in: give --output DIR";
inline constexpr char kBlankOutputFolder[] = "the output folder's name is empty";
// "NAME already holds N bytes: give --force to replace it", around the file's name and length.
inline constexpr char kTargetHoldsOpen[] = " already holds ";
inline constexpr char kTargetHoldsClose[] = " bytes: give --force to replace it";
// "verify needs recovery support in the engine", after the name of what is not there yet.
inline constexpr char kNeedsRecovery[] = " needs recovery support in the engine";

}  // namespace tessel::cli::texts
