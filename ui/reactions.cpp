#include "ui/reactions.h"

#include "engine/piece_naming.h"
#include "ui/field_text.h"
#include "ui/window_texts.h"

namespace tessel::ui {
namespace {

// The batch file the job asks for, listing the pieces `pieceCount` counts.
BatchResult Batch(const SplitJob& job, double pieceCount, platform::FileSystem& files) {
    return WriteBatch(
        {job.request.inputPath, job.request.outputFolder, job.request.extension, pieceCount},
        files);
}

void TakeBatch(SharedSettings& settings, const std::optional<BatchResult>& batch) {
    if (!batch) return;
    if (batch->pieces) settings.PieceCount = *batch->pieces;
    if (batch->failure) settings.InfoMessage = *batch->failure;
}

}  // namespace

std::variant<std::string, SplitJob> StartSplit(SharedSettings& settings,
                                               const SplitFields& fields) {
    const std::string folder = CutAtNul(fields.folder);
    // The pieces would otherwise go to the root of the file system.
    if (IsBlank(folder)) return std::string(texts::kChooseOutputFolder);
    settings.OutputFolder = folder;
    const auto chunkSize = ParseChunkSize(CutAtNul(fields.chunkText));
    if (!chunkSize) return std::string(texts::kSplitSizeRefused);
    settings.ChunkSize = *chunkSize;
    SplitJob job{SplitRequestFrom(settings, fields.fileName), fields.batch};
    job.request.recovery = fields.recovery;
    return job;
}

SplitChecked CheckSplitStep(const SplitJob& job, double pieceCount, platform::FileSystem& files) {
    SplitChecked checked{CheckSplit(job.request, files), std::nullopt};
    const auto& check = checked.check;
    if (job.batch && !check.plan && check.report.outcome != Outcome::Refused)
        checked.batch = Batch(job, check.pieceCount.value_or(pieceCount), files);
    return checked;
}

std::optional<std::string> TakeSplitChecked(SharedSettings& settings, const SplitChecked& checked) {
    if (checked.check.pieceCount) settings.PieceCount = *checked.check.pieceCount;
    TakeReport(settings, checked.check.report);
    TakeBatch(settings, checked.batch);
    if (!checked.check.plan) return std::nullopt;
    return settings.InfoMessage;
}

SplitWritten WriteSplitStep(const SplitJob& job, const SplitPlan& plan, double pieceCount,
                            const OperationControl& control, platform::FileSystem& files) {
    SplitWritten written{WriteSplit(plan, control, files), std::nullopt};
    if (job.batch && written.result.report.outcome != Outcome::Cancelled)
        written.batch = Batch(job, pieceCount, files);
    return written;
}

void TakeSplitWritten(SharedSettings& settings, const SplitWritten& written) {
    TakeReport(settings, written.result.report);
    TakeBatch(settings, written.batch);
}

std::optional<ReplaceQuestion> TakeJoinChecked(SharedSettings& settings, const JoinCheck& check) {
    TakeReport(settings, check.report);
    if (!check.plan || check.plan->existingLength.value_or(0) <= 0) return std::nullopt;
    return ReplaceQuestion{FileNamePart(check.plan->request.targetPath),
                           *check.plan->existingLength};
}

}  // namespace tessel::ui
