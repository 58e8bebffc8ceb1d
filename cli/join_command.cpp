// tessel-cli join NAME: the window's Join, from a terminal.
#include <string>

#include "cli/command.h"
#include "cli/commands.h"
#include "cli/piece_set.h"
#include "cli/texts.h"
#include "engine/join.h"
#include "ui/window_texts.h"

namespace tessel::cli {
namespace {

class JoinCommand final : public Command {
  public:
    JoinCommand()
        : Command("join", std::string("Join the pieces NAME.1") + kDefaultPieceExtension +
                              ", NAME.2" + kDefaultPieceExtension + ", ... back into NAME") {}

    int Run(const Interruption& interruption) override {
        const JoinRequest request = RequestFor(name_);
        const std::string& target = request.targetPath;
        const JoinCheck check = CheckJoin(request);
        if (!check.plan) {
            console_.Tell(check.report);
            return kFailed;
        }
        // A file that holds data is replaced only when the user says so beforehand.
        if (const auto length = check.plan->existingLength.value_or(0); length > 0 && !force_) {
            console_.Complain(target + texts::kTargetHoldsOpen + std::to_string(length) +
                              texts::kTargetHoldsClose);
            return kFailed;
        }
        const Report report = Rebuild(*check.plan, interruption);
        console_.Tell(report);
        return StatusOf(report, interruption);
    }

  protected:
    void AddArguments(CLI::App& command) override {
        AddNameArgument(command, name_, "The file to rebuild");
        command.add_flag("-f,--force", force_, "Replace NAME even when it holds data");
        command.footer(std::string("Where NAME") + product::kChecksumSuffix +
                       " lists recovery pieces, up to that many missing or damaged\n"
                       "pieces are rebuilt from them; the pieces themselves are left as they are.");
    }

  private:
    // The joined file, with the progress line while it is written.
    Report Rebuild(const JoinPlan& plan, const Interruption& interruption) const {
        ProgressLine line = Progress(ui::texts::kJoining);
        return WriteJoin(plan, Control(line, interruption)).report;
    }

    std::string name_;
    bool force_ = false;
};

}  // namespace

std::unique_ptr<Command> MakeJoinCommand() {
    return std::make_unique<JoinCommand>();
}

}  // namespace tessel::cli
