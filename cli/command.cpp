#include "cli/command.h"

#include <cstdio>

#include "cli/texts.h"

namespace tessel::cli {
namespace {

// The summary and the batch file end their lines with CR LF; a terminal wants LF alone.
std::string WithTerminalLineEnds(std::string_view text) {
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        lines += text[i];
    }
    return lines;
}

}  // namespace

void TellWrongUsage(std::string_view problem, std::string_view command) {
    std::string program = texts::kProgram;
    if (!command.empty()) program.append(" ").append(command);
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %.*s\nTry '%s --help' for more information.\n", texts::kProgram,
                 static_cast<int>(problem.size()), problem.data(), program.c_str());
}

void Console::Say(std::string_view text) const {
    if (quiet_) return;
    std::fputs((WithTerminalLineEnds(text) + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void Console::Complain(std::string_view text) const {
    std::fflush(stdout);
    std::fputs((std::string(texts::kProgram) + ": " + WithTerminalLineEnds(text) + "\n").c_str(),
               stderr);
}

void Console::Tell(const Report& report) const {
    if (report.Done()) {
        Say(report.status);
        return;
    }
    Complain(report.status);
    // The information names the file where the status line alone does not.
    if (report.info) Complain(*report.info);
}

void Command::Register(CLI::App& program) {
    parsed_ = program.add_subcommand(name_, purpose_);
    parsed_->add_flag("-q,--quiet", quiet_,
                      "Print no results and no progress, only errors (on standard error)");
    AddArguments(*parsed_);
}

OperationControl Command::Control(ProgressLine& line, const Interruption& interruption) {
    OperationControl control;
    if (line.Shown())
        control.progress = [&line](std::int64_t done, std::int64_t total) {
            line.Show(done, total);
        };
    control.cancel = interruption.Flag();
    return control;
}

int Command::WrongUsage(std::string_view problem) const {
    TellWrongUsage(problem, name_);
    return kWrongUsage;
}

int Command::StatusOf(const Report& report, const Interruption& interruption) {
    switch (report.outcome) {
        case Outcome::Done:
            return kSucceeded;
        case Outcome::Cancelled:
            return interruption.Interrupted() ? interruption.ExitStatus() : kFailed;
        case Outcome::Failed:
        case Outcome::Refused:
            break;
    }
    return kFailed;
}

}  // namespace tessel::cli
