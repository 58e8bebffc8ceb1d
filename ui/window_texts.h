// Every text the main window shows of its own, word for word: captions, tooltips, the names a
// screen reader reads, the titles of the dialogs it opens, its progress, its refusals and its
// question. The engine's texts (the statuses of a split or a join) are the engine's.
#pragma once

namespace tessel::ui::texts {

inline constexpr char kStartStatus[] = "Please select a file to Split or Join.";

inline constexpr char kFileCaption[] = "File to Split or Join";
inline constexpr char kFolderCaption[] = "Output Folder";
inline constexpr char kOutputOptionsCaption[] = "Output Options";
inline constexpr char kFileSizeCaption[] = "File Size :";
inline constexpr char kChunkCaption[] = "Split Size ( Bytes) : ";
inline constexpr char kBatchCaption[] = "  Generate Batch file for merging.";
inline constexpr char kRecoveryCaption[] = "Recovery pieces :";

inline constexpr char kOpenFileTip[] = "Click this button to choose the file to split or join";
inline constexpr char kOpenFolderTip[] = "The folder where the split file should be saved";
inline constexpr char kChunkTip[] =
    "Choose the file chunk size. Chunk size is the size of the file pieces. The input file will "
    "be broken into pieces of this size. ";
inline constexpr char kRecoveryTip[] =
    "Extra pieces written after the others. A join can rebuild up to this many lost or damaged "
    "pieces from them.";
inline constexpr char kSplitTip[] = "Break the file";
inline constexpr char kJoinTip[] = "Join the file";
inline constexpr char kExitTip[] = "Exit Tessel";

// The names assistive technology reads for the controls whose look does not name them: the
// pictures, the picture buttons and the link by what they do, the fields by their captions,
// and the strip that holds the status line.
struct AccessibleName {
    const char* control;
    const char* name;
};
inline constexpr AccessibleName kAccessibleNames[] = {
    {"imgSplit", "Break"},
    {"ImgJoin", "Join"},
    {"imgHelp", "Help"},
    {"imgExit", "Exit"},
    {"cmdOpenFile", "Choose the file to split or join"},
    {"cmdOpenFolder", "Choose the output folder"},
    {"lblURL", "Open the Tessel web site"},
    {"txtFileName", kFileCaption},
    {"txtFolder", kFolderCaption},
    {"txtFileChunk", "Split Size (Bytes)"},
    {"lstFormat", "File Size"},
    {"spnRecovery", "Recovery pieces"},
    {"Picture1", "Status"},
};

inline constexpr char kChooseFileTitle[] = "Add file to break or Join";
inline constexpr char kChooseFileFilter[] = "All Files (*)";
inline constexpr char kChooseFolderTitle[] = "Select a folder";

// The status line while the engine copies, as "Joining pieces... 42% - press Esc to cancel":
// %1 is what is being done, %2 the percentage done.
inline constexpr char kProgress[] = "%1 %2% - press Esc to cancel";
inline constexpr char kSplitting[] = "Breaking file into pieces...";
inline constexpr char kJoining[] = "Joining pieces...";

// The status line's answers to fields the engine must not be given: an empty or blank
// output-folder field, and a split size that is not a whole number of bytes.
inline constexpr char kChooseOutputFolder[] = "Error - Choose an output folder";
inline constexpr char kSplitSizeRefused[] =
    "Error - The split size must be a whole number of bytes";

// Asked before a join replaces a file that holds data: %1 is the file's name, %2 its length in
// bytes.
inline constexpr char kReplaceQuestion[] =
    "%1 already holds %2 bytes. Replace it with the file joined from its pieces?";
inline constexpr char kReplaceButton[] = "Replace";
inline constexpr char kKeepButton[] = "Cancel";

}  // namespace tessel::ui::texts
