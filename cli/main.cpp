// tessel-cli: Tessel's split, join, verify and repair from a terminal or a script, on the
// window's engine.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/interruption.h"
#include "cli/texts.h"
#include "tessel/product.h"

namespace {

using tessel::cli::Command;
using tessel::cli::kWrongUsage;
using tessel::cli::TellWrongUsage;
using tessel::cli::texts::kProgram;

// --help and --version print and succeed; every other parse error is wrong usage, told on
// standard error in the GNU way.
int ParseFailure(const CLI::App& program, const CLI::ParseError& error) {
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
        return program.exit(error);
    const auto chosen = program.get_subcommands();
    TellWrongUsage(error.what(), chosen.empty() ? "" : chosen.front()->get_name());
    return kWrongUsage;
}

// The first argument that is no option must name a command; CLI11 would only say that one is
// missing.
std::optional<std::string> UnknownCommand(std::span<char*> arguments,
                                          const std::vector<std::unique_ptr<Command>>& commands) {
    for (const std::string_view argument : arguments) {
        if (argument.starts_with('-')) continue;
        std::string problem(1, '\'');
        problem.append(argument).append("' is not a command; the commands are");
        for (const auto& command : commands) {
            if (command->Name() == argument) return std::nullopt;
            problem.append(command == commands.front() ? " " : ", ").append(command->Name());
        }
        return problem;
    }
    return std::nullopt;
}

std::string VersionText() {
    return std::string(kProgram) + " (" + tessel::product::kProductName + ") " +
           tessel::product::kVersion;
}

}  // namespace

int main(int argc, char** argv) {
    // Installed first, so that a signal that comes at any time stops the work before it starts.
    const tessel::cli::Interruption interruption;
    const auto commands = tessel::cli::AllCommands();

    CLI::App program(tessel::cli::texts::kPurpose, kProgram);
    program.set_version_flag("-V,--version", VersionText(), "Print the version and exit");
    program.set_help_flag("-h,--help", "Print this help and exit");
    program.require_subcommand(1);
    for (const auto& command : commands) command->Register(program);
    program.footer(std::string("Run '") + kProgram +
                   " COMMAND --help' for a command's arguments and options.");
    if (const auto unknown = UnknownCommand({argv + 1, argv + argc}, commands)) {
        TellWrongUsage(*unknown, "");
        return kWrongUsage;
    }
    try {
        program.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return ParseFailure(program, error);
    }
    for (const auto& command : commands)
        if (command->Chosen()) return command->Run(interruption);
    return kWrongUsage;  // require_subcommand(1) leaves no way here
}
