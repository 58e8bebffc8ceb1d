// The commands of tessel-cli.
#pragma once

#include <memory>
#include <vector>

#include "cli/command.h"

namespace tessel::cli {

std::unique_ptr<Command> MakeSplitCommand();
std::unique_ptr<Command> MakeJoinCommand();
std::unique_ptr<Command> MakeVerifyCommand();
std::unique_ptr<Command> MakeRepairCommand();

// Every command, in the order --help lists them.
inline std::vector<std::unique_ptr<Command>> AllCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(MakeSplitCommand());
    commands.push_back(MakeJoinCommand());
    commands.push_back(MakeVerifyCommand());
    commands.push_back(MakeRepairCommand());
    return commands;
}

}  // namespace tessel::cli
