// tessel-cli verify NAME: every piece of NAME and every recovery piece read and checked against
// its checksum file, one line each, and whether NAME can be joined; nothing is written.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/commands.h"
#include "cli/piece_set.h"
#include "cli/texts.h"
#include "engine/verify.h"

namespace tessel::cli {
namespace {

const char* WordFor(PieceState state) {
    switch (state) {
        case PieceState::Found:
            return texts::kPieceIntact;
        case PieceState::Missing:
            return texts::kPieceMissing;
        case PieceState::Damaged:
            break;
    }
    return texts::kPieceDamaged;
}

std::int64_t LostOf(const std::vector<PieceState>& states) {
    return std::ranges::count_if(states,
                                 [](PieceState state) { return state != PieceState::Found; });
}

// The last line: whether NAME can be joined as it is, or rebuilt from its recovery pieces, or not.
std::string Verdict(const std::string& target, const VerifyResult& found) {
    const std::int64_t lost = found.Lost();
    const auto recovery = std::ssize(found.recoveryPieces);
    if (lost == 0) return target + texts::kSetWhole;
    if (found.Joinable())
        return target + texts::kRecoveryLost +
               LostText(LostOf(found.recoveryPieces), texts::kRecoveryPiece);
    const std::string opening = found.Rebuildable() ? texts::kSetRebuildable : texts::kSetBroken;
    std::string verdict = target + opening + LostText(lost, texts::kPiece);
    if (recovery > 0)
        verdict += texts::kAtMostOpen + std::to_string(recovery) + texts::kAtMostClose;
    return verdict;
}

class VerifyCommand final : public Command {
  public:
    VerifyCommand()
        : Command("verify", "Check every piece of NAME against its checksum file; write nothing") {}

    int Run(const Interruption& interruption) override {
        const JoinRequest request = RequestFor(name_);
        const VerifyResult found = Check(request, interruption);
        if (!found.report.Done()) {
            console_.Tell(found.report);
            return StatusOf(found.report, interruption);
        }
        for (const PieceLine& piece : PieceLines(request, found))
            console_.Say(LineOf(piece, WordFor(piece.state)));
        console_.Say(Verdict(request.targetPath, found));
        return found.Lost() == 0 ? kSucceeded : kFailed;
    }

  protected:
    void AddArguments(CLI::App& command) override {
        AddNameArgument(command, name_, "The file whose pieces to check");
        const auto piece = [](int n) {
            return "  NAME." + std::to_string(n) + kDefaultPieceExtension;
        };
        command.footer(
            "Prints one line per piece, as sha256sum does, in the folder NAME is given in:\n" +
            piece(1) + ": OK        intact\n" + piece(2) + ": MISSING   not there\n" + piece(3) +
            ": DAMAGED   of the wrong length, or its checksum does not match\n"
            "and its recovery pieces NAME.R1" +
            kDefaultPieceExtension +
            ", ... after them; then whether NAME can be\n"
            "joined, or rebuilt from its recovery pieces, or not.\n"
            "Exit status: 0 when every piece is intact, recovery pieces included; 1 otherwise.");
    }

  private:
    VerifyResult Check(const JoinRequest& request, const Interruption& interruption) const {
        ProgressLine line = Progress(texts::kVerifying);
        return VerifyPieces(request, Control(line, interruption));
    }

    std::string name_;
};

}  // namespace

std::unique_ptr<Command> MakeVerifyCommand() {
    return std::make_unique<VerifyCommand>();
}

}  // namespace tessel::cli
