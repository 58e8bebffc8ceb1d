// What the window's Split and Join reactions decide, without a window: the refusals made before
// the engine runs, what the settings take from each step, and when a batch file is written.
#include "ui/reactions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <variant>

#include "engine/messages.h"
#include "tests/support/checked_runs.h"
#include "tests/support/temp_folder.h"
#include "ui/window_texts.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

// The split of `fields` through every step the window runs, as the user pressing OK.
std::string SplitThroughTheSteps(SharedSettings& settings, const ui::SplitFields& fields,
                                 bool* summaryShown = nullptr) {
    auto started = ui::StartSplit(settings, fields);
    if (const auto* refusal = std::get_if<std::string>(&started)) return *refusal;
    const auto job = std::get<ui::SplitJob>(started);
    const auto checked = ui::CheckSplitStep(job, settings.PieceCount);
    const auto summary = ui::TakeSplitChecked(settings, checked);
    if (summaryShown != nullptr) *summaryShown = summary.has_value();
    if (!summary) return settings.StatusMessage;
    EXPECT_EQ(*summary, settings.InfoMessage);
    const auto written = ui::WriteSplitStep(job, *checked.check.plan, settings.PieceCount, {});
    ui::TakeSplitWritten(settings, written);
    return settings.StatusMessage;
}

TEST(Reactions, SplitRefusesBlankFoldersAndSizesBeforeTheEngineAndWritesTheBatchFileByTheRules) {
    TempFolder temp;
    WritePattern(temp / "data.bin", 2500);
    auto settings = SettingsFor("/unused", 1000);
    settings.StatusMessage = "earlier";
    const ui::SplitFields good{temp / "data.bin", temp / "out", "1000", 0, true};

    // Refused before the engine: nothing in the settings changes but what the reaction takes.
    for (const auto* folder : {"", "   ", "\t"}) {
        auto fields = good;
        fields.folder = folder;
        EXPECT_EQ(SplitThroughTheSteps(settings, fields), ui::texts::kChooseOutputFolder);
        EXPECT_EQ(settings.OutputFolder, "/unused") << "the folder field counts only when valid";
    }
    for (const auto* size : {"", "12a", "-", "99999999999999999999"}) {
        auto fields = good;
        fields.chunkText = size;
        EXPECT_EQ(SplitThroughTheSteps(settings, fields), ui::texts::kSplitSizeRefused);
    }
    EXPECT_FALSE(fs::exists(temp / "out"));

    // A split that goes on, with its batch file; the count the batch file lists is rounded.
    bool summaryShown = false;
    EXPECT_EQ(SplitThroughTheSteps(settings, good, &summaryShown), messages::kSplitSucceeded);
    EXPECT_TRUE(summaryShown);
    EXPECT_EQ(settings.PieceCount, 3.0);
    EXPECT_TRUE(fs::exists(temp / "out/data.bin.bat"));

    // A failed check (the file is gone) still writes a batch file, by the count from before;
    // a refused one (Break on the placeholder) writes none.
    fs::remove(temp / "out/data.bin.bat");
    auto missing = good;
    missing.fileName = temp / "gone.bin";
    EXPECT_EQ(SplitThroughTheSteps(settings, missing, &summaryShown), messages::kSplitFailed);
    EXPECT_FALSE(summaryShown);
    EXPECT_TRUE(fs::exists(temp / "out/gone.bin.bat"));
    auto placeholder = good;
    placeholder.fileName = temp / "out/data.bin";
    EXPECT_EQ(SplitThroughTheSteps(settings, placeholder), messages::kSplitOfPlaceholder);
    EXPECT_FALSE(fs::exists(temp / "out/data.bin.bat"));

    // Recovery pieces are asked for through the fields, and the summary says so.
    auto recovered = good;
    recovered.recovery = 2;
    recovered.batch = false;
    EXPECT_EQ(SplitThroughTheSteps(settings, recovered), messages::kSplitSucceeded);
    EXPECT_NE(settings.InfoMessage.find(" Plus 2 recovery pieces of 1000 bytes each."),
              std::string::npos)
        << settings.InfoMessage;
    EXPECT_TRUE(fs::exists(temp / "out/data.bin.R2.BRK"));
}

TEST(Reactions, AJoinAsksOnlyBeforeReplacingAFileThatHoldsData) {
    TempFolder temp;
    const auto bytes = WritePattern(temp / "data.bin", 2500);
    auto settings = SettingsFor(temp / "out", 1000);
    ASSERT_TRUE(SplitFile(settings, temp / "data.bin"));
    const JoinRequest request = JoinRequestFrom(settings, temp / "out/data.bin");

    EXPECT_FALSE(ui::TakeJoinChecked(settings, CheckJoin(request))) << "the empty placeholder";
    fs::remove(temp / "out/data.bin");
    EXPECT_FALSE(ui::TakeJoinChecked(settings, CheckJoin(request))) << "no file at all";
    WriteFile(temp / "out/data.bin", PatternBytes(77));
    const auto question = ui::TakeJoinChecked(settings, CheckJoin(request));
    ASSERT_TRUE(question.has_value());
    EXPECT_EQ(question->name, "data.bin");
    EXPECT_EQ(question->length, 77);

    // A check that refuses asks nothing and leaves its texts in the settings.
    fs::remove(temp / "out/data.bin.2.BRK");
    EXPECT_FALSE(ui::TakeJoinChecked(settings, CheckJoin(request)));
    EXPECT_EQ(settings.StatusMessage,
              std::string(messages::kPieceOpen) + "2" + messages::kPieceMissingClose);
}

}  // namespace
}  // namespace tessel::testing
