// Runs a real command-line tool in a folder and collects what it printed, for tests that check
// Tessel's files with the tools other machines use.
#pragma once

#include <string>
#include <vector>

namespace tessel::testing {

struct ToolRun {
    int exitCode = -1;   // -1 when the tool could not be started or did not exit
    std::string output;  // standard output and standard error together
};

// Runs `arguments` (the tool first, looked up on PATH) with `folder` as its working folder.
ToolRun RunTool(const std::string& folder, const std::vector<std::string>& arguments);

}  // namespace tessel::testing
