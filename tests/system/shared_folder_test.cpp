// Attacks through a folder another user can write to, and the other ways a click could cost the
// user their data: links planted under the names Tessel writes, private files split into
// pieces others can read, Break pressed on the placeholder, a join onto one of its own pieces,
// a folder that cannot be listed. Each is run for real, as root and as an unprivileged user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "engine/join.h"
#include "engine/merge_batch.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "platform/file_system.h"
#include "tests/support/checked_runs.h"
#include "tests/support/other_user.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kChunk = 4096;
const std::vector<char> kVictimBytes = {'t', 'h', 'e', 's', 'i', 's'};

// What a folder holds: each name with its bytes (or a link's target) and permission bits.
using Snapshot = std::map<std::string, std::string>;

Snapshot Take(const fs::path& folder) {
    Snapshot snapshot;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto status = fs::symlink_status(entry.path());
        std::string state = std::to_string(static_cast<unsigned>(status.permissions())) + ":";
        if (fs::is_symlink(status))
            state += "link to " + fs::read_symlink(entry.path()).string();
        else if (fs::is_regular_file(status)) {
            const auto bytes = ReadFile(entry.path());
            state.append(bytes.begin(), bytes.end());
        }
        snapshot[fs::relative(entry.path(), folder).string()] = state;
    }
    return snapshot;
}

// Collects failures as text, so that a scenario can run in a child process as another user.
class Checks {
  public:
    void That(bool holds, const std::string& what) {
        if (!holds && failures_.empty()) failures_ = what;
    }
    std::string Result() const { return failures_; }

  private:
    std::string failures_;
};

std::string Describe(const std::string& name, const std::string& linkKind) {
    return "a " + linkKind + " link named " + name;
}

// A split (with the batch file) into a folder where a link stands under one of the names it
// writes: the split or the batch writer fails, and neither the link nor what it points to, nor
// anything outside the folder, changes.
std::string PlantedLinksInTheOutputFolder(const std::string& root) {
    Checks checks;
    const std::vector<std::string> names = {"report.doc.2.BRK", "report.doc", "report.doc.bat",
                                            "report.doc.sha256"};
    for (const auto& name : names) {
        for (const std::string linkKind : {"victim", "dangling"}) {
            const fs::path folder = fs::path(root) / (name + "-" + linkKind);
            fs::create_directories(folder / "out");
            fs::create_directories(folder / "elsewhere");
            WritePattern(folder / "report.doc", 3 * kChunk);
            WriteFile(folder / "elsewhere/thesis.doc", kVictimBytes);
            const fs::path pointee = linkKind == "victim" ? folder / "elsewhere/thesis.doc"
                                                          : folder / "elsewhere/created";
            fs::create_symlink(pointee, folder / "out" / name);
            const auto before = Take(folder / "elsewhere");

            auto settings = SettingsFor(folder / "out", kChunk);
            const bool split = SplitFile(settings, folder / "report.doc");
            WriteMergeBatch(settings, folder / "report.doc");
            const std::string what = Describe(name, linkKind);
            if (name == "report.doc.bat") {
                checks.That(split, what + ": the split itself should succeed");
                checks.That(settings.InfoMessage == messages::kBatchFailedInfoOpen +
                                                        (folder / "out" / name).string() +
                                                        messages::kFailedInfoClose,
                            what + ": the batch writer should report its failure");
            } else {
                checks.That(!split && settings.StatusMessage == messages::kSplitFailed,
                            what + ": the split should fail with its texts, said " +
                                settings.StatusMessage);
            }
            checks.That(Take(folder / "elsewhere") == before,
                        what + ": a file outside the output folder changed");
            checks.That(fs::is_symlink(folder / "out" / name) &&
                            fs::read_symlink(folder / "out" / name) == pointee,
                        what + ": the link itself changed");
        }
    }
    return checks.Result();
}

// A join whose target is a planted link fails; one beside a link planted under a name of the
// form its new file may take on the way joins without touching the link or what it points to.
std::string PlantedLinksAtTheJoin(const std::string& root) {
    Checks checks;
    for (const std::string name : {"report.doc", ".tessel-join.aaaaaaaa"}) {
        const bool target = name == "report.doc";
        const fs::path folder = fs::path(root) / ("join" + name);
        fs::create_directories(folder / "elsewhere");
        WritePattern(folder / "report.doc", 3 * kChunk);
        auto settings = SettingsFor(folder / "out", kChunk);
        checks.That(SplitFile(settings, folder / "report.doc"), "the split before the join");
        WriteFile(folder / "elsewhere/thesis.doc", kVictimBytes);
        fs::remove(folder / "out" / name);
        fs::create_symlink(folder / "elsewhere/thesis.doc", folder / "out" / name);
        const auto before = Take(folder / "elsewhere");

        const std::string what = "a join with a link named " + name;
        const bool joined = JoinFiles(settings, folder / "out/report.doc");
        checks.That(joined != target, what + (target ? " succeeded" : " failed"));
        checks.That(
            settings.StatusMessage == (target ? messages::kJoinFailed : messages::kJoinVerified),
            what + " said " + settings.StatusMessage);
        checks.That(Take(folder / "elsewhere") == before, what + " changed files elsewhere");
        checks.That(fs::is_symlink(folder / "out" / name), what + " took the link away");
    }
    return checks.Result();
}

void RunAsRootAndAsAnotherUser(const std::function<std::string(const std::string&)>& scenario) {
    {
        SCOPED_TRACE("as this user");
        TempFolder temp;
        EXPECT_EQ(scenario(temp.path().string()), "");
    }
    std::string whyNot;
    const auto user = FindOtherUser(whyNot);
    if (!user) {
        std::cout << "[   INFO   ] not run as another user: " << whyNot << "\n";
        return;
    }
    SCOPED_TRACE("as an unprivileged user");
    TempFolder temp;
    GiveTo(temp.path().string(), *user);
    EXPECT_EQ(RunAs(*user, [&] { return scenario(temp.path().string()); }), "");
}

TEST(SharedFolder, LinksPlantedUnderTheNamesTesselWritesAreNeverFollowed) {
    RunAsRootAndAsAnotherUser(PlantedLinksInTheOutputFolder);
    RunAsRootAndAsAnotherUser(PlantedLinksAtTheJoin);
}

fs::perms PermissionsOf(const fs::path& path) {
    return fs::status(path).permissions() & fs::perms::all;
}

TEST(SharedFolder, PiecesOfAPrivateFileArePrivateAndTheJoinedFileIsNoMoreOpenThanAnyPiece) {
    const mode_t oldMask = ::umask(022);
    TempFolder temp;
    fs::permissions(temp.path(),
                    fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    WritePattern(temp / "secret.txt", 3 * kChunk);
    WritePattern(temp / "public.txt", 3 * kChunk);
    fs::permissions(temp / "secret.txt", fs::perms::owner_read | fs::perms::owner_write);
    auto settings = SettingsFor(temp / "out", kChunk);
    ASSERT_TRUE(SplitFile(settings, temp / "secret.txt"));
    WriteMergeBatch(settings, temp / "secret.txt");
    ASSERT_TRUE(SplitFile(settings, temp / "public.txt"));
    ::umask(oldMask);

    const auto privateBits = fs::perms::owner_read | fs::perms::owner_write;
    for (const std::string name : {"secret.txt", "secret.txt.1.BRK", "secret.txt.3.BRK",
                                   "secret.txt.sha256", "secret.txt.bat"})
        EXPECT_EQ(PermissionsOf(temp / ("out/" + name)), privateBits) << name;
    EXPECT_EQ(PermissionsOf(temp / "out/public.txt.2.BRK"),
              privateBits | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(PermissionsOf(temp / "out"),
              fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write)
        << "the output folder is made as mkdir makes it";

    // A piece more open than the others opens nothing: the joined file takes no bit that any
    // piece, the file it replaces or the umask lacks.
    fs::permissions(temp / "out/secret.txt.1.BRK", fs::perms::all);
    ASSERT_TRUE(JoinFiles(settings, temp / "out/secret.txt"));
    EXPECT_EQ(PermissionsOf(temp / "out/secret.txt"), privateBits);
    fs::remove(temp / "out/secret.txt");
    for (const int n : {1, 2, 3})
        fs::permissions(Piece(temp / "out/secret.txt", n), fs::perms::all);
    const mode_t strict = ::umask(077);
    ASSERT_TRUE(JoinFiles(settings, temp / "out/secret.txt"));
    ::umask(strict);
    EXPECT_EQ(PermissionsOf(temp / "out/secret.txt"), fs::perms::owner_all);
    for (const int n : {1, 2, 3}) fs::permissions(Piece(temp / "out/secret.txt", n), privateBits);
    WriteFile(temp / "out/public.txt", {});
    fs::permissions(temp / "out/public.txt", fs::perms::owner_read | fs::perms::group_read);
    ASSERT_TRUE(JoinFiles(settings, temp / "out/public.txt"));
    EXPECT_EQ(PermissionsOf(temp / "out/public.txt"),
              fs::perms::owner_read | fs::perms::group_read);

    std::string whyNot;
    const auto user = FindOtherUser(whyNot);
    if (!user) GTEST_SKIP() << "the pieces were not read as another user: " << whyNot;
    const auto canRead = [&](const std::string& path) {
        return RunAs(*user, [&] {
            const int fd = ::open(path.c_str(), O_RDONLY);
            if (fd < 0) return std::string(errno == EACCES ? "refused" : "other error");
            ::close(fd);
            return std::string();
        });
    };
    EXPECT_EQ(canRead(temp / "out/secret.txt.2.BRK"), "refused");
    EXPECT_EQ(canRead(temp / "out/secret.txt.sha256"), "refused");
    EXPECT_EQ(canRead(temp / "out/public.txt.2.BRK"), "") << "the other user can read nothing";
}

TEST(SharedFolder, TheDefaultOutputFolderIsTesselInTheUsersHome) {
    const char* saved = std::getenv("HOME");
    const std::string savedHome = saved != nullptr ? saved : "";
    ::setenv("HOME", "/home/alice/", 1);
    EXPECT_EQ(platform::DefaultOutputFolder(), "/home/alice/Tessel");
    SharedSettings settings;
    SetStartupDefaults(settings);
    EXPECT_EQ(settings.OutputFolder, "/home/alice/Tessel");

    ::unsetenv("HOME");
    const std::string fromPasswd = platform::DefaultOutputFolder();
    EXPECT_TRUE(fromPasswd.ends_with("/Tessel")) << fromPasswd;
    EXPECT_TRUE(fs::path(fromPasswd).is_absolute()) << fromPasswd;
    EXPECT_NE(fromPasswd, "/tmp/Tessel");
    if (saved != nullptr) ::setenv("HOME", savedHome.c_str(), 1);
}

TEST(SharedFolder, BreakOnThePlaceholderOrAJoinOntoAPieceChangesNothing) {
    TempFolder temp;
    WritePattern(temp / "data.bin", 5 * kChunk - 1);
    auto settings = SettingsFor(temp / "out", kChunk);
    ASSERT_TRUE(SplitFile(settings, temp / "data.bin"));
    const auto before = Take(temp.path() / "out");

    // Break pressed with the placeholder itself as the file and its folder as the output.
    settings.InfoMessage = "the summary of the split before";
    settings.OutputFolder = temp / "out";
    const SplitCheck check = CheckSplit(SplitRequestFrom(settings, temp / "out/data.bin"));
    EXPECT_FALSE(check.plan.has_value());
    EXPECT_EQ(check.report.outcome, Outcome::Refused);
    EXPECT_EQ(check.report.status, messages::kSplitOfPlaceholder);
    EXPECT_FALSE(SplitFile(settings, temp / "out/data.bin"));
    EXPECT_EQ(Take(temp.path() / "out"), before);

    // An empty file of that name elsewhere is refused the same way; an empty set is not.
    WriteFile(temp / "data.bin", {});
    EXPECT_FALSE(SplitFile(settings, temp / "data.bin"));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitOfPlaceholder);
    EXPECT_EQ(Take(temp.path() / "out"), before);
    settings.OutputFolder = temp / "other";
    EXPECT_TRUE(SplitFile(settings, temp / "data.bin"));

    // The target made a hard link of one of its pieces.
    settings.OutputFolder = temp / "out";
    for (const int n : {1, 3}) {
        fs::remove(temp / "out/data.bin");
        fs::create_hard_link(Piece(temp / "out/data.bin", n), temp / "out/data.bin");
        const auto linked = Take(temp.path() / "out");
        EXPECT_FALSE(JoinFiles(settings, temp / "out/data.bin"));
        EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
        EXPECT_EQ(settings.InfoMessage, messages::kJoinFailedInfoOpen + (temp / "out/data.bin") +
                                            messages::kFailedInfoClose);
        EXPECT_EQ(Take(temp.path() / "out"), linked);
    }
}

// Pieces 1, 2 and 4 in a folder its user may enter but not list: without a checksum file the
// gap cannot be seen, so the join is refused; with one, the list names the pieces.
std::string JoinInAnUnlistableFolder(const std::string& root) {
    Checks checks;
    const fs::path folder = fs::path(root) / "sealed";
    WritePattern(fs::path(root) / "data.bin", 4 * kChunk);
    auto settings = SettingsFor(folder, kChunk);
    checks.That(SplitFile(settings, fs::path(root) / "data.bin"), "the split before the join");
    fs::remove(folder / "data.bin.3.BRK");
    fs::rename(folder / "data.bin.sha256", fs::path(root) / "data.bin.sha256");
    fs::permissions(folder, fs::perms::owner_write | fs::perms::owner_exec | fs::perms::group_exec |
                                fs::perms::others_exec);
    checks.That(!JoinFiles(settings, (folder / "data.bin").string()),
                "a join that could not look for a gap succeeded");
    checks.That(settings.StatusMessage == messages::kJoinFailed,
                "the refused join said " + settings.StatusMessage);
    checks.That(fs::file_size(folder / "data.bin") == 0, "the refused join changed the target");

    fs::permissions(folder, fs::perms::owner_all);
    fs::remove(folder / "data.bin.4.BRK");
    checks.That(SplitFile(settings, fs::path(root) / "data.bin"), "the second split");
    fs::permissions(folder, fs::perms::owner_write | fs::perms::owner_exec);
    checks.That(JoinFiles(settings, (folder / "data.bin").string()) &&
                    settings.StatusMessage == messages::kJoinVerified,
                "the join by the checksum file said " + settings.StatusMessage);
    fs::permissions(folder, fs::perms::owner_all);
    checks.That(fs::file_size(folder / "data.bin") == static_cast<std::uintmax_t>(4 * kChunk),
                "the verified join is not whole");
    return checks.Result();
}

TEST(SharedFolder, AJoinThatCannotListItsFolderNeedsAChecksumFile) {
    std::string whyNot;
    const auto user = FindOtherUser(whyNot);
    if (!user) GTEST_SKIP() << "root lists every folder; no other user: " << whyNot;
    TempFolder temp;
    GiveTo(temp.path().string(), *user);
    EXPECT_EQ(RunAs(*user, [&] { return JoinInAnUnlistableFolder(temp.path().string()); }), "");
}

}  // namespace
}  // namespace tessel::testing
