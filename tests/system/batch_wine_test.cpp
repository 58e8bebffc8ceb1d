// The merge batch file run by a real command interpreter, Wine's cmd: a file is split, the batch
// file written beside the pieces, the empty file of the input's name removed, and the batch file
// run in the pieces' folder. The file it rebuilds must equal the input byte for byte, and its
// closing message must name the file. Wine reads batch files in the OEM code page of its locale,
// so it runs under a locale whose OEM code page is 850, the one the batch file is written in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <locale.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/merge_batch.h"
#include "engine/shared_settings.h"
#include "engine/split.h"
#include "tests/support/checked_runs.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace tessel {
namespace {

namespace fs = std::filesystem;
using testing::PatternBytes;
using testing::ReadFile;
using testing::RecordingDialog;
using testing::TempFolder;
using testing::WriteFile;

constexpr std::int64_t kChunk = 4096;
constexpr int kCommandNotFound = 127;
// The first start of Wine in a fresh prefix builds the prefix, which takes up to a minute on a
// busy machine; later starts take a second or two.
constexpr auto kPrefixLimit = std::chrono::minutes(5);
constexpr auto kRunLimit = std::chrono::minutes(2);
constexpr auto kPoll = std::chrono::milliseconds(50);
// Locales whose Windows counterparts use OEM code page 850; en_US would give 437.
const char* const kCodePage850Locales[] = {"en_GB.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8",
                                           "es_ES.UTF-8", "it_IT.UTF-8"};

const char* const kMessageCodePages[] = {"CP850", "CP1252"};

struct Outcome {
    int exitCode = -1;  // 128 + signal when a signal ended it
    bool timedOut = false;
    std::string output;  // standard output and standard error together
};

std::optional<std::string> CodePage850Locale() {
    for (const char* name : kCodePage850Locales) {
        const locale_t found = ::newlocale(LC_ALL_MASK, name, nullptr);
        if (found == nullptr) continue;
        ::freelocale(found);
        return name;
    }
    return std::nullopt;
}

// Runs a program in `folder` with the given environment, its output going into `outputPath`;
// a run that outlasts `limit` is killed.
Outcome Run(const std::vector<std::string>& command, const std::string& folder,
            const std::vector<std::string>& environment, const std::string& outputPath,
            std::chrono::steady_clock::duration limit) {
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        const int input = ::open("/dev/null", O_RDONLY);
        const int output = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (input < 0 || output < 0 || ::dup2(input, 0) < 0 || ::dup2(output, 1) < 0 ||
            ::dup2(output, 2) < 0 || ::chdir(folder.c_str()) != 0)
            ::_exit(kCommandNotFound);
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(kCommandNotFound);
    }
    Outcome outcome;
    if (child < 0) return outcome;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            outcome.timedOut = true;
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(kPoll);
    }
    if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.exitCode = 128 + WTERMSIG(status);
    const std::vector<char> bytes = ReadFile(outputPath);
    outcome.output.assign(bytes.begin(), bytes.end());
    return outcome;
}

// A Wine prefix of its own, built by the first start and removed at the end, shared by every
// batch file this test runs. Wine draws the code pages from the locale, and runs without a display
// and without offering to install its browser or .NET components.
class Wine {
  public:
    explicit Wine(const std::string& locale) : locale_(locale) {
        fs::create_directory(folder_.path() / "prefix");
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const std::string key = text.substr(0, text.find('='));
            if (key != "DISPLAY" && key != "WAYLAND_DISPLAY" && !key.starts_with("WINE") &&
                !key.starts_with("LC_") && key != "LANG" && key != "LANGUAGE")
                environment_.push_back(text);
        }
        environment_.push_back("WINEPREFIX=" + (folder_.path() / "prefix").string());
        environment_.push_back("WINEDEBUG=-all");
        environment_.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
        environment_.push_back("LANG=" + locale);
        environment_.push_back("LC_ALL=" + locale);
    }
    ~Wine() {
        // The Wine server of this prefix lingers a few seconds after the last program; it must
        // be gone before its prefix is removed.
        const Outcome waited = Run({"wineserver", "-w"}, folder_.path().string(), environment_,
                                   folder_ / "wineserver.log", kRunLimit);
        if (waited.timedOut)
            Run({"wineserver", "-k"}, folder_.path().string(), environment_,
                folder_ / "wineserver.log", kRunLimit);
    }
    Wine(const Wine&) = delete;
    Wine& operator=(const Wine&) = delete;

    // Starts Wine once, building the prefix; an empty text when it works, else why not.
    std::string Start() {
        const auto started = std::chrono::steady_clock::now();
        const Outcome outcome = Cmd(folder_.path().string(), "echo ready", kPrefixLimit);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::steady_clock::now() - started);
        if (outcome.output.find("ready") != std::string::npos) {
            std::cout << "Wine started in " << seconds.count() << " s\n";
            return {};
        }
        return "exit code " + std::to_string(outcome.exitCode) +
               (outcome.timedOut ? " (timed out)" : "") + ", output:\n" + outcome.output;
    }

    // `cmd /c command` in `folder`.
    Outcome Cmd(const std::string& folder, const std::string& command,
                std::chrono::steady_clock::duration limit = kRunLimit) {
        return Run({"wine", "cmd", "/c", command}, folder, environment_, folder_ / "cmd-output.txt",
                   limit);
    }

    const std::string& locale() const { return locale_; }

  private:
    TempFolder folder_;
    std::string locale_;
    std::vector<std::string> environment_;
};

struct Scenario {
    std::string name;
    std::int64_t size;
};

// `utf8` in the given code page, by the C library's converter; empty when it cannot convert.
std::string Encoded(const std::string& utf8, const char* codePage) {
    const iconv_t converter = ::iconv_open(codePage, "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) return {};
    std::string in = utf8;
    std::string out(utf8.size(), '\0');
    char* inPointer = in.data();
    char* outPointer = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const bool converted =
        ::iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) != static_cast<size_t>(-1);
    ::iconv_close(converter);
    if (!converted) return {};
    out.resize(out.size() - outLeft);
    return out;
}

// Splits a file of the scenario's size, writes the batch file and runs it; the rebuilt file
// must be the input and the closing message must name it.
void MergeInWine(Wine& wine, const Scenario& scenario) {
    const TempFolder folder;
    const fs::path source = folder.path() / "source";
    const fs::path pieces = folder.path() / "pieces";
    fs::create_directory(source);
    const std::string input = (source / scenario.name).string();
    const std::vector<char> bytes = PatternBytes(scenario.size, 7);
    WriteFile(input, bytes);

    SharedSettings settings = testing::SettingsFor(pieces.string(), kChunk);
    RecordingDialog dialog;
    ASSERT_TRUE(SplitShowing(settings, input, dialog)) << settings.StatusMessage;
    settings.InfoMessage.clear();
    WriteMergeBatch(settings, input);
    ASSERT_EQ(settings.InfoMessage, "");
    const fs::path merged = pieces / scenario.name;
    ASSERT_TRUE(fs::exists(pieces / (scenario.name + ".bat")));
    fs::remove(merged);  // the empty file the split leaves: the batch file must make it anew

    const Outcome outcome = wine.Cmd(pieces.string(), scenario.name + ".bat");

    ASSERT_FALSE(outcome.timedOut) << outcome.output;
    ASSERT_TRUE(fs::exists(merged)) << "cmd did not create the file; it printed:\n"
                                    << outcome.output;
    EXPECT_TRUE(ReadFile(merged.string()) == bytes)
        << "the rebuilt file differs from the input; cmd printed:\n"
        << outcome.output;
    // cmd writes the message in the OEM code page to a console; Wine writes it to a file in the
    // locale's ANSI code page instead.
    bool named = false;
    for (const char* codePage : kMessageCodePages) {
        const std::string message =
            "\"File '" + Encoded(scenario.name, codePage) + "' Successfully merged.\"";
        named = named || outcome.output.find(message) != std::string::npos;
    }
    EXPECT_TRUE(named) << "the closing message does not name " << scenario.name << ":\n"
                       << outcome.output;
}

TEST(BatchWine, RebuildsTheSplitFileByteForByte) {
    const auto locale = CodePage850Locale();
    Wine wine(locale.value_or("C.UTF-8"));
    if (const std::string failure = wine.Start(); !failure.empty())
        GTEST_SKIP() << "Wine cannot start here: " << failure;

    const Scenario plain[] = {
        {"report.doc", 1000},               // one piece
        {"archive.tar", 5 * kChunk + 123},  // several, the last one short
        {"exact.bin", 3 * kChunk},          // several, all full
        {"empty.dat", 0},                   // one empty piece
    };
    for (const Scenario& scenario : plain) {
        SCOPED_TRACE(scenario.name);
        MergeInWine(wine, scenario);
    }

    ASSERT_TRUE(locale.has_value())
        << "no locale with OEM code page 850 is installed (en_GB.UTF-8 for one): names with "
           "letters beyond ASCII cannot be checked";
    // Blanks, a "%" and letters beyond ASCII; "ø" and "Ø" stand where code page 437, the one
    // cmd would wrongly read in under en_US, has other characters.
    const Scenario accented[] = {
        {"rés umé 100%.dat", 2 * kChunk + 1},
        {"Ærø smørrebrød Ø.txt", 3 * kChunk - 1},
    };
    for (const Scenario& scenario : accented) {
        SCOPED_TRACE(scenario.name + " under " + wine.locale());
        MergeInWine(wine, scenario);
    }
}

}  // namespace
}  // namespace tessel
