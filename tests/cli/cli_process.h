// tessel-cli run as a user runs it: its own process, in a chosen folder, with HOME pointing
// where the test says, standard output and standard error caught in files, or both on a
// pseudo-terminal as an interactive shell would give them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace tessel::testing {

struct CliRun {
    int status = -1;  // the exit status, 128 + signal when a signal ended it, -1 on error
    std::string out;  // standard output
    std::string err;  // standard error
};

// Where and how the program runs.
struct CliPlace {
    std::string folder;  // the working folder; it also takes the files the output lands in
    std::string home;    // HOME
    std::vector<int> ignoredSignals = {};  // ignored when the program starts, as nohup does
};

// A tessel-cli started with its output going to files; the test can signal it while it works.
class CliProcess {
  public:
    CliProcess(const CliPlace& place, const std::vector<std::string>& arguments);
    ~CliProcess();  // a process still running is killed
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    pid_t Pid() const { return pid_; }
    void Signal(int signal) const;
    // Waits for the end and gathers what the program printed.
    CliRun Finish();

  private:
    TempFolder outputs_;  // the files standard output and standard error go to
    pid_t pid_ = -1;
};

// Runs tessel-cli to its end.
CliRun RunCli(const CliPlace& place, const std::vector<std::string>& arguments);

// Runs tessel-cli with its standard input, output and error on a pseudo-terminal 120 columns
// wide. `watch` is handed everything the terminal has shown so far, each time more comes, and
// the process; the run ends when the program does. `out` holds all the terminal showed.
CliRun RunCliOnTerminal(const CliPlace& place, const std::vector<std::string>& arguments,
                        const std::function<void(const std::string& shown, pid_t pid)>& watch);

// Waits until `condition` holds, checking every few milliseconds; false after `limit`.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::seconds limit = std::chrono::seconds(120));

// Whether process `pid` has the file `name` (its file name) open.
bool HasOpen(pid_t pid, const std::string& name);

}  // namespace tessel::testing
