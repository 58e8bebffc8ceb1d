#include "tests/cli/cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/child_process.h"

namespace tessel::testing {
namespace {

constexpr unsigned short kTerminalColumns = 120;
constexpr unsigned short kTerminalRows = 40;
constexpr int kPollMilliseconds = 20;
constexpr auto kWaitStep = std::chrono::milliseconds(2);
constexpr char kOutName[] = "out";
constexpr char kErrName[] = "err";

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Everything the child needs, made before fork(): after it only system calls are safe.
struct Launch {
    std::vector<std::string> argumentTexts;
    std::vector<std::string> environmentTexts;
    std::vector<char*> argv;
    std::vector<char*> envp;
    std::string folder;
    std::vector<int> ignoredSignals;

    Launch(const CliPlace& place, const std::vector<std::string>& arguments)
        : folder(place.folder), ignoredSignals(place.ignoredSignals) {
        argumentTexts.push_back(TESSEL_CLI_PATH);
        argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
        for (char** entry = environ; *entry != nullptr; ++entry)
            if (std::string_view(*entry).rfind("HOME=", 0) != 0) environmentTexts.push_back(*entry);
        environmentTexts.push_back("HOME=" + place.home);
        for (auto& text : argumentTexts) argv.push_back(text.data());
        argv.push_back(nullptr);
        for (auto& text : environmentTexts) envp.push_back(text.data());
        envp.push_back(nullptr);
    }

    [[noreturn]] void Exec() {
        for (const int signal : ignoredSignals) ::signal(signal, SIG_IGN);
        if (::chdir(folder.c_str()) == 0) ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
};

}  // namespace

CliProcess::CliProcess(const CliPlace& place, const std::vector<std::string>& arguments) {
    Launch launch(place, arguments);
    const int out = ::open((outputs_ / kOutName).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int err = ::open((outputs_ / kErrName).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        launch.Exec();
    }
    ::close(in);
    ::close(out);
    ::close(err);
}

CliProcess::~CliProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    WaitForChild(pid_);
}

void CliProcess::Signal(int signal) const {
    if (pid_ > 0) ::kill(pid_, signal);
}

CliRun CliProcess::Finish() {
    CliRun run;
    if (pid_ <= 0) return run;
    run.status = WaitForChild(pid_);
    pid_ = -1;
    run.out = ReadWhole(outputs_ / kOutName);
    run.err = ReadWhole(outputs_ / kErrName);
    return run;
}

CliRun RunCli(const CliPlace& place, const std::vector<std::string>& arguments) {
    return CliProcess(place, arguments).Finish();
}

CliRun RunCliOnTerminal(const CliPlace& place, const std::vector<std::string>& arguments,
                        const std::function<void(const std::string& shown, pid_t pid)>& watch) {
    Launch launch(place, arguments);
    winsize size{};
    size.ws_col = kTerminalColumns;
    size.ws_row = kTerminalRows;
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (pid == 0) launch.Exec();
    CliRun run;
    if (pid < 0) return run;
    char block[4096];
    for (;;) {
        pollfd ready{terminal, POLLIN, 0};
        if (::poll(&ready, 1, kPollMilliseconds) == 0) {
            watch(run.out, pid);
            continue;
        }
        const ssize_t got = ::read(terminal, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // EIO: the program has closed its end
        run.out.append(block, static_cast<std::size_t>(got));
        watch(run.out, pid);
    }
    ::close(terminal);
    run.status = WaitForChild(pid);
    return run;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(kWaitStep);
    }
    return true;
}

bool HasOpen(pid_t pid, const std::string& name) {
    std::error_code error;
    const std::filesystem::path descriptors = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(descriptors, error)) {
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target.filename() == name) return true;
    }
    return false;
}

}  // namespace tessel::testing
