// tessel-cli verify NAME and repair NAME: registered with their arguments, so that --help and
// the parser already treat them as they will, and refused until the engine can read a set's
// recovery pieces.
#include <string>

#include "cli/command.h"
#include "cli/commands.h"
#include "cli/texts.h"

namespace tessel::cli {
namespace {

class RecoveryCommand final : public Command {
  public:
    RecoveryCommand(std::string name, std::string purpose)
        : Command(std::move(name), std::move(purpose)) {}

    int Run(const Interruption&) override {
        console_.Complain(Name() + texts::kNeedsRecovery);
        return kFailed;
    }

  protected:
    void AddArguments(CLI::App& command) override {
        command
            .add_option("NAME", name_,
                        "The file whose pieces to use, or one of its pieces, or its checksum file")
            ->type_name("")
            ->required();
    }

  private:
    std::string name_;
};

}  // namespace

std::unique_ptr<Command> MakeVerifyCommand() {
    return std::make_unique<RecoveryCommand>(
        "verify", "Check every piece of NAME against its checksums (not available yet)");
}

std::unique_ptr<Command> MakeRepairCommand() {
    return std::make_unique<RecoveryCommand>(
        "repair", "Rebuild the lost or damaged pieces of NAME (not available yet)");
}

}  // namespace tessel::cli
