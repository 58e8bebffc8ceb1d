// One command of tessel-cli (split, join, verify, repair): its name and purpose, the arguments
// and options it adds to the parser, and what it does once they are parsed. Results go to
// standard output, unless --quiet; errors to standard error as "tessel-cli: TEXT".
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <string_view>

#include "cli/interruption.h"
#include "cli/progress_line.h"
#include "engine/progress.h"
#include "engine/report.h"

namespace tessel::cli {

// The program's exit statuses besides 128 + a signal's number.
enum ExitStatus : int {
    kSucceeded = 0,
    kFailed = 1,      // the operation failed, was refused, or found a problem
    kWrongUsage = 2,  // the command line asks for something that cannot be done
};

// A command line that asks for something that cannot be done: "tessel-cli: PROBLEM" and the
// GNU hint at the help of the command it chose (none for the program's own), on standard error.
void TellWrongUsage(std::string_view problem, std::string_view command);

// What a command tells the user.
class Console {
  public:
    explicit Console(const bool& quiet) : quiet_(quiet) {}

    // A result on standard output, its CR LF line ends made the terminal's; nothing with --quiet.
    void Say(std::string_view text) const;
    // "tessel-cli: TEXT" on standard error, whatever --quiet says.
    void Complain(std::string_view text) const;
    // An operation's end: a Done report's status as a result, any other's status and
    // information as errors.
    void Tell(const Report& report) const;

  private:
    const bool& quiet_;
};

class Command {
  public:
    virtual ~Command() = default;
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    // Adds the command to the program's parser; the options are parsed into this object.
    void Register(CLI::App& program);
    const std::string& Name() const { return name_; }
    // Whether the parsed command line chose this command.
    bool Chosen() const { return parsed_ != nullptr && parsed_->parsed(); }
    // Carries the command out, stopping when `interruption` says so; returns the exit status.
    virtual int Run(const Interruption& interruption) = 0;

  protected:
    Command(std::string name, std::string purpose)
        : name_(std::move(name)), purpose_(std::move(purpose)) {}

    // Adds the command's own arguments and options.
    virtual void AddArguments(CLI::App& command) = 0;

    // What the engine is handed: the progress line to tell, and the flag that stops it.
    static OperationControl Control(ProgressLine& line, const Interruption& interruption);
    // A progress line for this command's work; none with --quiet.
    ProgressLine Progress(std::string doing) const {
        return ProgressLine(std::move(doing), !quiet_);
    }
    // Tells a problem with the command line; returns kWrongUsage.
    int WrongUsage(std::string_view problem) const;
    // The exit status an operation's end gives.
    static int StatusOf(const Report& report, const Interruption& interruption);

    bool quiet_ = false;
    Console console_{quiet_};

  private:
    std::string name_;
    std::string purpose_;
    CLI::App* parsed_ = nullptr;
};

}  // namespace tessel::cli
