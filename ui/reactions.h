// What the window's Split and Join reactions decide, free of Qt so that tests drive them without
// a display: what is refused before the engine runs, what the engine is asked, what runs on the
// worker thread, what the window's settings take from each step, and when a batch file follows.
// The window only gathers its fields, runs the worker steps, asks the user and shows the texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "engine/join.h"
#include "engine/merge_batch.h"
#include "engine/progress.h"
#include "engine/shared_settings.h"
#include "engine/split.h"
#include "platform/file_system.h"

namespace tessel::ui {

// The fields a split reads, as the engine takes their texts.
struct SplitFields {
    std::string fileName;
    std::string folder;
    std::string chunkText;
    std::int64_t recovery = 0;
    bool batch = false;
};

// A split the window has started.
struct SplitJob {
    SplitRequest request;
    bool batch = false;
};

// The Split reaction's first step: the folder and the size taken into the settings and the job
// for the engine, or the status that refuses them before the engine runs (nothing is written
// then, not even a batch file, which would list the piece count of an earlier split).
std::variant<std::string, SplitJob> StartSplit(SharedSettings& settings, const SplitFields& fields);

// On the worker: the split's check, and the batch file where the check failed (a refused split
// writes none). `pieceCount` is the settings' count from before.
struct SplitChecked {
    SplitCheck check;
    std::optional<BatchResult> batch;
};
SplitChecked CheckSplitStep(const SplitJob& job, double pieceCount,
                            platform::FileSystem& files = platform::DefaultFileSystem());

// Back on the window's thread: the settings take what the check found; the summary to show
// first where the split goes on.
std::optional<std::string> TakeSplitChecked(SharedSettings& settings, const SplitChecked& checked);

// On the worker: the writing, then the batch file unless the split was cancelled (it took its
// pieces back: a batch file would list pieces that are gone).
struct SplitWritten {
    SplitResult result;
    std::optional<BatchResult> batch;
};
SplitWritten WriteSplitStep(const SplitJob& job, const SplitPlan& plan, double pieceCount,
                            const OperationControl& control,
                            platform::FileSystem& files = platform::DefaultFileSystem());
void TakeSplitWritten(SharedSettings& settings, const SplitWritten& written);

// What the user is asked before a join replaces a file that holds data.
struct ReplaceQuestion {
    std::string name;  // the file's name, without its folder
    std::int64_t length = 0;
};

// Back on the window's thread after a join's check: the settings take its texts; the question
// to ask where the target holds data (an empty one, the placeholder a split leaves, or a
// missing one is joined without a question).
std::optional<ReplaceQuestion> TakeJoinChecked(SharedSettings& settings, const JoinCheck& check);

}  // namespace tessel::ui
