#include "tests/support/run_tool.h"

#include <unistd.h>

#include <cerrno>

#include "tests/support/child_process.h"

namespace tessel::testing {

ToolRun RunTool(const std::string& folder, const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (arguments.empty() || ::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        if (::chdir(folder.c_str()) == 0) ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ToolRun run;
    char block[4096];
    for (;;) {
        const ssize_t got = ::read(pipeFds[0], block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        run.output.append(block, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    if (pid > 0) run.exitCode = WaitForChild(pid);
    return run;
}

}  // namespace tessel::testing
