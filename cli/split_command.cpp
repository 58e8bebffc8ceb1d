// tessel-cli split FILE: the window's Break, from a terminal.
#include <optional>
#include <string>

#include "cli/command.h"
#include "cli/commands.h"
#include "cli/piece_size.h"
#include "cli/texts.h"
#include "engine/merge_batch.h"
#include "engine/piece_naming.h"
#include "engine/split.h"
#include "platform/file_system.h"
#include "ui/field_text.h"
#include "ui/window_texts.h"

namespace tessel::cli {
namespace {

// Turns a reading into what CLI11 wants of a check: empty when the text is good.
std::string ProblemOf(const SizeReading& reading) {
    return IsSize(reading) ? std::string() : std::get<std::string>(reading);
}

class SplitCommand final : public Command {
  public:
    SplitCommand()
        : Command("split", std::string("Break FILE into pieces FILE.1") + kDefaultPieceExtension +
                               ", FILE.2" + kDefaultPieceExtension + ", ... of SIZE bytes") {}

    int Run(const Interruption& interruption) override {
        const std::string folder = output_.value_or(platform::DefaultOutputFolder());
        if (folder.empty()) return WrongUsage(texts::kNoOutputFolder);
        const SplitCheck check = CheckSplit(Request(folder));
        const double pieceCount = check.pieceCount.value_or(0.0);
        if (!check.plan) {
            console_.Tell(check.report);
            // Refused means nothing may be written at all, not even a batch file.
            if (batch_ && check.report.outcome != Outcome::Refused)
                WriteBatchFile(folder, pieceCount);
            return kFailed;
        }
        console_.Say(*check.report.info);
        const Report report = WritePieces(*check.plan, interruption);
        console_.Tell(report);
        const int status = StatusOf(report, interruption);
        // A cancelled split took its pieces back: a batch file would list pieces that are gone.
        if (report.outcome == Outcome::Cancelled || !batch_) return status;
        return WriteBatchFile(folder, pieceCount) ? status : kFailed;
    }

  protected:
    void AddArguments(CLI::App& command) override {
        command
            .add_option("FILE", file_,
                        std::string("The file to break into pieces; their checksums go to FILE") +
                            product::kChecksumSuffix)
            ->type_name("")
            ->required();
        auto* size = command.add_option("-s,--size", sizeText_, "Bytes in each piece (see below)")
                         ->type_name("SIZE")
                         ->check(CLI::Validator(
                             [](std::string& text) { return ProblemOf(ReadSize(text)); }, ""));
        auto* preset =
            command
                .add_option("-p,--preset", presetText_,
                            "The size of a preset: its number, or the start of its label")
                ->type_name("N")
                ->check(CLI::Validator(
                    [](std::string& text) { return ProblemOf(ReadPreset(text)); }, ""));
        size->excludes(preset);
        command
            .add_option("-o,--output", output_, "The folder the pieces go to (default: ~/Tessel)")
            ->type_name("DIR")
            ->check(CLI::Validator(
                [](std::string& text) {
                    return ui::IsBlank(text) ? std::string(texts::kBlankOutputFolder)
                                             : std::string();
                },
                ""));
        command.add_flag("-b,--batch", batch_,
                         "Also write FILE.bat, which joins the pieces on DOS or Windows");
        command
            .add_option("-r,--recovery", recovery_,
                        std::string("Also write R recovery pieces FILE.R1") +
                            kDefaultPieceExtension +
                            "...: a join or a repair rebuilds up to R lost or damaged pieces")
            ->type_name("R")
            ->check(CLI::Range(std::int64_t{0}, kMaxRecoveryPieces));
        command.footer(SizeHelp() + "\nPresets:\n" + PresetList());
    }

  private:
    // Each field set by name, so that fields the engine adds keep their defaults.
    SplitRequest Request(const std::string& folder) const {
        SplitRequest request;
        request.inputPath = file_;
        request.outputFolder = folder;
        request.chunk = Chunk();
        request.recovery = recovery_;
        return request;
    }

    std::int64_t Chunk() const {
        if (sizeText_) return std::get<std::int64_t>(ReadSize(*sizeText_));
        if (presetText_) return std::get<std::int64_t>(ReadPreset(*presetText_));
        return kDefaultChunkSize;
    }

    // The pieces and their checksum file, with the progress line while they are written.
    Report WritePieces(const SplitPlan& plan, const Interruption& interruption) const {
        ProgressLine line = Progress(ui::texts::kSplitting);
        return WriteSplit(plan, Control(line, interruption)).report;
    }

    // Writes FILE.bat as the window does; false, with the engine's text, when it could not.
    bool WriteBatchFile(const std::string& folder, double pieceCount) const {
        BatchRequest request;
        request.fileNameField = file_;
        request.outputFolder = folder;
        request.pieceCount = pieceCount;
        const BatchResult batch = WriteBatch(request);
        if (!batch.failure) return true;
        console_.Complain(*batch.failure);
        return false;
    }

    std::string file_;
    std::optional<std::string> sizeText_;
    std::optional<std::string> presetText_;
    std::optional<std::string> output_;
    bool batch_ = false;
    std::int64_t recovery_ = 0;
};

}  // namespace

std::unique_ptr<Command> MakeSplitCommand() {
    return std::make_unique<SplitCommand>();
}

}  // namespace tessel::cli
