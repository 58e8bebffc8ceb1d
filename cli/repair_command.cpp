// tessel-cli repair NAME: every missing or damaged piece of NAME, numbered or recovery, written
// anew from the others and checked against its checksum before it takes its name; one line for
// each piece written anew. Intact pieces are never touched.
#include <string>
#include <utility>
#include <vector>

#include "cli/command.h"
#include "cli/commands.h"
#include "cli/piece_set.h"
#include "cli/texts.h"
#include "engine/verify.h"

namespace tessel::cli {
namespace {

// The pieces the repair wrote anew: it writes the lost ones in order, numbered pieces first,
// and counts each once it has its name.
std::vector<PieceLine> Repaired(const JoinRequest& request, const RepairResult& repair) {
    std::vector<PieceLine> written;
    for (PieceLine& piece : PieceLines(request, repair.before)) {
        if (std::ssize(written) == repair.repaired) break;
        if (piece.state != PieceState::Found) written.push_back(std::move(piece));
    }
    return written;
}

class RepairCommand final : public Command {
  public:
    RepairCommand()
        : Command("repair", "Write the lost or damaged pieces of NAME anew from the others") {}

    int Run(const Interruption& interruption) override {
        const JoinRequest request = RequestFor(name_);
        const RepairResult repair = Mend(request, interruption);
        for (const PieceLine& piece : Repaired(request, repair))
            console_.Say(LineOf(piece, texts::kPieceRepaired));
        if (!repair.report.Done()) {
            console_.Tell(repair.report);
            return StatusOf(repair.report, interruption);
        }
        const std::string& target = request.targetPath;
        console_.Say(repair.repaired == 0
                         ? target + texts::kNothingToRepair
                         : target + ": " + Counted(repair.repaired, texts::kPiece) +
                               texts::kRepairedClose);
        return kSucceeded;
    }

  protected:
    void AddArguments(CLI::App& command) override {
        AddNameArgument(command, name_, "The file whose pieces to repair");
        command.footer(
            "Each piece written anew is checked against its checksum before it takes its\n"
            "name; intact pieces are left as they are. Prints one line per piece written\n"
            "anew, NAME.2" +
            std::string(kDefaultPieceExtension) +
            ": REPAIRED, then that every piece is intact.\n"
            "Exit status: 0 when every piece is intact afterwards (also when none needed\n"
            "repair); 1 when more pieces are lost than there are recovery pieces.");
    }

  private:
    RepairResult Mend(const JoinRequest& request, const Interruption& interruption) const {
        ProgressLine line = Progress(texts::kRepairing);
        return RepairPieces(request, Control(line, interruption));
    }

    std::string name_;
};

}  // namespace

std::unique_ptr<Command> MakeRepairCommand() {
    return std::make_unique<RepairCommand>();
}

}  // namespace tessel::cli
