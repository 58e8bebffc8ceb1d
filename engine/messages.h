// The texts the engine reports, word for word as users see them.
#pragma once

#include <string_view>

#include "engine/report.h"

namespace tessel::messages {

inline constexpr char kSplitSucceeded[] = "Successfully broken file into pieces";
inline constexpr char kSplitCannotOpenInput[] = "Unable to break file into pieces";
inline constexpr char kSplitFailed[] = "Error - Unable to break file into pieces";
inline constexpr char kSplitFailedInfoOpen[] = "Tessel could not break file [";
inline constexpr char kSplitOfPlaceholder[] =
    "Error - This is the empty file left beside its pieces: use Join to rebuild it";
inline constexpr char kSplitOverForeignList[] =
    "Error - Another program's checksum file is in the way: choose another output folder";
inline constexpr char kSplitNameTooLong[] = "Error - The file name is too long for its pieces";
inline constexpr char kSplitCancelled[] = "The split was cancelled";

inline constexpr char kJoinSucceeded[] = "The Files have been successfully joined";
inline constexpr char kJoinVerified[] = "The Files have been successfully joined and verified";
inline constexpr char kJoinFailed[] = "Error - Unable to join pieces into a file";
inline constexpr char kJoinFailedInfoOpen[] = "Tessel could not join pieces into a file [";
inline constexpr char kJoinCancelled[] = "The join was cancelled";
inline constexpr char kChecksumFileIncomplete[] = "Error - The checksum file is incomplete";
inline constexpr char kChecksumFileUnreadable[] = "Error - The checksum file cannot be read";
// "Error - Piece N is missing" and "Error - Piece N is damaged", around the piece's number.
inline constexpr char kPieceOpen[] = "Error - Piece ";
inline constexpr char kPieceMissingClose[] = " is missing";
inline constexpr char kPieceDamagedClose[] = " is damaged";

inline constexpr char kBatchFailedInfoOpen[] = "Tessel could not create batch file [";

// Closes the three "could not ... [path" texts above.
inline constexpr char kFailedInfoClose[] = "].";

inline constexpr FailureTexts kSplitFailure{kSplitFailed, kSplitFailedInfoOpen};
inline constexpr FailureTexts kJoinFailure{kJoinFailed, kJoinFailedInfoOpen};

}  // namespace tessel::messages
