// The main window's own texts for a split or join that runs while the window stays live: its
// progress, the refusal of a missing output folder, and the question before a join replaces a
// file that holds data.
#pragma once

namespace tessel::ui::texts {

// The status line while the engine copies, as "Joining pieces... 42% - press Esc to cancel":
// %1 is what is being done, %2 the percentage done.
inline constexpr char kProgress[] = "%1 %2% - press Esc to cancel";
inline constexpr char kSplitting[] = "Breaking file into pieces...";
inline constexpr char kJoining[] = "Joining pieces...";

// The status line's answer to an empty or blank output-folder field.
inline constexpr char kChooseOutputFolder[] = "Error - Choose an output folder";

// Asked before a join replaces a file that holds data: %1 is the file's name, %2 its length in
// bytes.
inline constexpr char kReplaceQuestion[] =
    "%1 already holds %2 bytes. Replace it with the file joined from its pieces?";
inline constexpr char kReplaceButton[] = "Replace";
inline constexpr char kKeepButton[] = "Cancel";

}  // namespace tessel::ui::texts
