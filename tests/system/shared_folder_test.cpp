// Attacks through a folder another user can write to, and the other ways a click could cost the
// user their data: links planted under the names Tessel writes (before it looks, or between its
// look and its open), private files split into pieces others can read, planted pieces that link
// to a private file, the folder swapped for a link midway, Break pressed on the placeholder, a
// join onto one of its own pieces, another program's checksum file, a folder that cannot be
// listed. Each is run for real, as root and as an unprivileged user.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "engine/checksum.h"
#include "engine/join.h"
#include "engine/merge_batch.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "platform/file_system.h"
#include "tests/support/case_names.h"
#include "tests/support/checked_runs.h"
#include "tests/support/child_process.h"
#include "tests/support/file_state.h"
#include "tests/support/intercepting_file_system.h"
#include "tests/support/other_user.h"
#include "tests/support/piece_checks.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kChunk = 4096;
const std::vector<char> kVictimBytes = {'t', 'h', 'e', 's', 'i', 's'};

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

// Who runs a scenario: this user (root, where the tests run as root), or an unprivileged one.
enum class Runner { ThisUser, AnotherUser };

struct Scenario {
    const char* what;
    std::string (*run)(const std::string& root);
};
const Scenario kLinkScenarios[] = {{"in the output folder", PlantedLinksInTheOutputFolder},
                                   {"at the join", PlantedLinksAtTheJoin}};

class SharedFolderPlantedLinks : public ::testing::TestWithParam<std::tuple<Scenario, Runner>> {};

TEST_P(SharedFolderPlantedLinks, LinksPlantedUnderTheNamesTesselWritesAreNeverFollowed) {
    const Scenario& scenario = std::get<0>(GetParam());
    const Runner runner = std::get<1>(GetParam());
    TempFolder temp;
    if (runner == Runner::ThisUser) {
        EXPECT_EQ(scenario.run(temp.path().string()), "");
    } else {
        std::string whyNot;
        const auto user = FindOtherUser(whyNot);
        if (!user) GTEST_SKIP() << "not run as another user: " << whyNot;
        GiveTo(temp.path().string(), *user);
        EXPECT_EQ(RunAs(*user, [&] { return scenario.run(temp.path().string()); }), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    , SharedFolderPlantedLinks,
    ::testing::Combine(::testing::ValuesIn(kLinkScenarios),
                       ::testing::Values(Runner::ThisUser, Runner::AnotherUser)),
    [](const auto& test) {
        return CamelCase(std::get<0>(test.param).what) +
               (std::get<1>(test.param) == Runner::ThisUser ? "_AsThisUser" : "_AsAnotherUser");
    });

// Empty when `user` can open `path` for reading; "refused" when the system says no.
std::string TryToRead(const OtherUser& user, const std::string& path) {
    return RunAs(user, [&] {
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) return std::string(errno == EACCES ? "refused" : "other error");
        ::close(fd);
        return std::string();
    });
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
    EXPECT_EQ(TryToRead(*user, temp / "out/secret.txt.2.BRK"), "refused");
    EXPECT_EQ(TryToRead(*user, temp / "out/secret.txt.sha256"), "refused");
    EXPECT_EQ(TryToRead(*user, temp / "out/public.txt.2.BRK"), "")
        << "the other user can read nothing";
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
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr) {
        EXPECT_EQ(fromPasswd, std::string(entry->pw_dir) + "/Tessel");
    }
    // A HOME that is no full path names no folder: the password database's entry does.
    for (const char* home : {"relative/home", "~", ""}) {
        ::setenv("HOME", home, 1);
        EXPECT_EQ(platform::DefaultOutputFolder(), fromPasswd) << "HOME=" << home;
    }
    if (saved != nullptr) ::setenv("HOME", savedHome.c_str(), 1);
    if (saved == nullptr) ::unsetenv("HOME");

    // A user the password database does not know, with HOME relative or unset: the field starts
    // empty rather than naming a folder relative to wherever Tessel was started.
    if (::geteuid() != 0) GTEST_SKIP() << "only root can run as a user with no password entry";
    uid_t unknown = 4'000'000;
    while (::getpwuid(unknown) != nullptr) ++unknown;
    EXPECT_EQ(
        TextFromChild([&] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(unknown) != 0 || ::setuid(unknown) != 0)
                return std::string("could not become a user with no entry");
            std::string result;
            ::unsetenv("HOME");
            result += "unset: [" + platform::DefaultOutputFolder() + "] ";
            ::setenv("HOME", "relative/home", 1);
            result += "relative: [" + platform::DefaultOutputFolder() + "]";
            return result;
        }),
        "unset: [] relative: []");
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

// Who plays which part in an attack by a second user: root as the victim, then an unprivileged
// victim; the attacker is an unprivileged user who shares a group with that victim.
struct Cast {
    std::string what;
    OtherUser victim;
    OtherUser attacker;
    gid_t group;
};

// The casts below, by their place in CastsOfAnAttack: each test runs once for each.
const char* const kCasts[] = {"root as the victim", "an unprivileged victim"};
constexpr std::size_t kRootAsTheVictim = 0;

std::vector<Cast> CastsOfAnAttack(std::string& whyNot) {
    const auto users = FindUsersSharingAGroup(whyNot);
    if (!users) return {};
    const OtherUser root{0, 0, {}};
    return {{kCasts[kRootAsTheVictim], root, users->first, users->group},
            {kCasts[1], users->second, users->first, users->group}};
}

// A test run once for each cast, named after it.
class SharedFolderAttack : public ::testing::TestWithParam<std::size_t> {};

std::string CastName(std::size_t cast) {
    return CamelCase(kCasts[cast]);
}

#define CASTS_OR_SKIP(casts)                                                              \
    std::string whyNot;                                                                   \
    const auto casts = CastsOfAnAttack(whyNot);                                           \
    do {                                                                                  \
        if (casts.empty()) GTEST_SKIP() << "an attack needs two other users: " << whyNot; \
    } while (false)

void Own(const fs::path& path, uid_t user, gid_t group, fs::perms mode) {
    ASSERT_EQ(::lchown(path.c_str(), user, group), 0) << path;
    fs::permissions(path, mode);
}

constexpr fs::perms kPrivate = fs::perms::owner_read | fs::perms::owner_write;
constexpr fs::perms kOpenToAll =
    fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read | fs::perms::others_exec;
constexpr fs::perms kEveryoneEnters = kOpenToAll & ~fs::perms::group_write;
constexpr fs::perms kPrivateFolder = fs::perms::owner_all;
constexpr fs::perms kReadWriteForAll = fs::perms::owner_read | fs::perms::owner_write |
                                       fs::perms::group_read | fs::perms::group_write |
                                       fs::perms::others_read | fs::perms::others_write;

// Where an attack plays: the attacker's own folder, holding `share`, a folder of the attacker's
// that the shared group may write; and the victim's own folder, holding a private key and, in
// `docs`, a document of the name the attack is after. Every user may pass through the
// temporary folder above them.
struct Stage {
    explicit Stage(const Cast& cast, fs::perms keyMode = kPrivate)
        : attacker(temp.path() / "attacker"),
          share(attacker / "share"),
          victim(temp.path() / "victim"),
          docs(victim / "docs"),
          key(victim / "id_ed25519"),
          target(share / "report.pdf") {
        fs::permissions(temp.path(), kEveryoneEnters);
        fs::create_directories(share);
        fs::create_directories(docs);
        keyBytes = WritePattern(key, 411, 90);
        WritePattern(docs / "report.pdf", 5000, 91);
        Own(attacker, cast.attacker.uid, cast.attacker.gid, kEveryoneEnters);
        Own(share, cast.attacker.uid, cast.group, kOpenToAll);
        GiveTo(victim, cast.victim);
        fs::permissions(victim, kPrivateFolder);
        fs::permissions(docs, kPrivateFolder);
        fs::permissions(key, keyMode);
        fs::permissions(docs / "report.pdf", kPrivate);
    }

    TempFolder temp;
    fs::path attacker;
    fs::path share;
    fs::path victim;
    fs::path docs;
    fs::path key;
    std::string target;  // the file the victim joins or splits into the shared folder
    std::vector<char> keyBytes;
};

// Empty unless `user` can read `path` and finds `secret` in it.
std::string ReadsSecret(const OtherUser& user, const std::string& path,
                        const std::vector<char>& secret) {
    return RunAs(user, [&] {
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) return std::string();
        ::close(fd);
        const auto bytes = ReadFile(path);
        return std::search(bytes.begin(), bytes.end(), secret.begin(), secret.end()) == bytes.end()
                   ? std::string()
                   : std::string("read the secret");
    });
}

// Runs a join as `user`, with the usual umask; empty when it succeeded, else what it said.
std::string JoinAs(const OtherUser& user, const std::string& target) {
    return RunAs(user, [&] {
        ::umask(022);
        auto settings = SettingsFor("/nonexistent", kChunk);
        return JoinFiles(settings, target) ? std::string() : "it said " + settings.StatusMessage;
    });
}

// The attacker plants piece 1 open to all and piece 2 as a link to the victim's key, and sits
// waiting for the victim to join them (no checksum file, so nothing is verified).
std::string PlantPiecesLinkingTo(const Stage& stage) {
    WriteFile(Piece(stage.target, 1), PatternBytes(kChunk, 92));
    fs::permissions(Piece(stage.target, 1), kReadWriteForAll);
    fs::create_symlink(stage.key, Piece(stage.target, 2));
    WriteFile(Piece(stage.target, 3), PatternBytes(100, 93));
    fs::permissions(Piece(stage.target, 3), fs::perms::all);
    return "";
}

std::vector<char> Joined(const std::vector<char>& key) {
    auto bytes = PatternBytes(kChunk, 92);
    bytes.insert(bytes.end(), key.begin(), key.end());
    const auto last = PatternBytes(100, 93);
    bytes.insert(bytes.end(), last.begin(), last.end());
    return bytes;
}

// The permission bits of `path`, in octal as ls and chmod show them.
std::string BitsOf(const std::string& path, fs::perms mask = fs::perms::all) {
    std::ostringstream octal;
    octal << std::oct << static_cast<unsigned>(fs::symlink_status(path).permissions() & mask);
    return octal.str();
}

uid_t OwnerOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_uid : static_cast<uid_t>(-1);
}

TEST_P(SharedFolderAttack, APlantedPieceNeverMakesTheJoinedFileMoreOpenThanItsMostPrivatePiece) {
    CASTS_OR_SKIP(casts);
    const Cast& cast = casts[GetParam()];
    Stage stage(cast);
    ASSERT_EQ(RunAs(cast.attacker, [&] { return PlantPiecesLinkingTo(stage); }), "");
    const auto before = Take(stage.victim);

    EXPECT_EQ(JoinAs(cast.victim, stage.target), "");
    EXPECT_EQ(Take(stage.victim), before) << "a file of the victim's changed";
    EXPECT_TRUE(SameBytes(ReadFile(stage.target), Joined(stage.keyBytes)));
    EXPECT_EQ(OwnerOf(stage.target), cast.victim.uid);
    EXPECT_EQ(BitsOf(stage.target, fs::perms::all & ~kPrivate), "0")
        << "the joined file is more open than the key in it";
    EXPECT_EQ(TryToRead(cast.attacker, stage.target), "refused");
}

// The attacker plants an empty file of the target's name too, as every split leaves one, open
// to all and in the shared group. A joined file that took its owner or its group would hand
// the attacker what was linked in. The key may be read by its owner's own group, which under
// per-user groups is its owner alone.
TEST_P(SharedFolderAttack, APlantedPlaceholderNeverHandsTheJoinedBytesToItsOwner) {
    CASTS_OR_SKIP(casts);
    const Cast& cast = casts[GetParam()];
    Stage stage(cast, kPrivate | fs::perms::group_read);
    ASSERT_EQ(RunAs(cast.attacker,
                    [&] {
                        PlantPiecesLinkingTo(stage);
                        WriteFile(stage.target, {});
                        fs::permissions(stage.target, kReadWriteForAll);
                        return ::chown(stage.target.c_str(), static_cast<uid_t>(-1), cast.group) ==
                                       0
                                   ? ""
                                   : "the placeholder could not be given to the group";
                    }),
              "");
    const auto before = Take(stage.victim);

    JoinAs(cast.victim, stage.target);
    EXPECT_EQ(Take(stage.victim), before) << "a file of the victim's changed";
    EXPECT_EQ(ReadsSecret(cast.attacker, stage.target, stage.keyBytes), "")
        << "the attacker reads the victim's key in the joined file";
}

INSTANTIATE_TEST_SUITE_P(, SharedFolderAttack, ::testing::Range<std::size_t>(0, std::size(kCasts)),
                         [](const auto& test) { return CastName(test.param); });

// A second process of the attacker's that watches the shared folder and, the moment `piece` is
// opened in it, renames the folder away and puts a link to `elsewhere` in its place. Tells
// `ready` once it watches and `swapped` once the link stands (or it gave up waiting).
pid_t StartFolderSwapper(const OtherUser& attacker, const fs::path& share, const std::string& piece,
                         const fs::path& elsewhere, Gate& ready, Gate& swapped) {
    return RunInChild([&] {
        ready.CloseReadEnd();
        swapped.CloseReadEnd();
        if (!Become(attacker)) return 1;
        const Fd watch(::inotify_init1(IN_CLOEXEC));
        if (watch.get() < 0 || ::inotify_add_watch(watch.get(), share.c_str(), IN_OPEN) < 0)
            return 2;
        ready.Open();
        alignas(inotify_event) char events[4096];
        for (bool seen = false; !seen;) {
            pollfd wait{watch.get(), POLLIN, 0};
            if (::poll(&wait, 1, 10000) != 1) return 3;
            const ssize_t got = ::read(watch.get(), events, sizeof events);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                seen = seen || (event->len > 0 && piece == event->name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        fs::path away = share;
        away += ".old";
        if (::rename(share.c_str(), away.c_str()) != 0 ||
            ::symlink(elsewhere.c_str(), share.c_str()) != 0)
            return 4;
        swapped.Open();
        return 0;
    });
}

// Holds an operation just before it opens one file (for reading, or to create it) until a
// gate opens: the moment between two pieces, stretched as a slow medium would.
class HoldBeforeOpening final : public InterceptingFileSystem {
  public:
    HoldBeforeOpening(std::string path, Gate& gate)
        : InterceptingFileSystem([this](Call call, const std::string& called) {
              if ((call == Call::CreateNew || call == Call::OpenForReading) && called == path_)
                  gate_.Wait();
              return Fault::None;
          }),
          path_(std::move(path)),
          gate_(gate) {}

  private:
    std::string path_;
    Gate& gate_;
};

// The victim splits its document into the shared folder, or joins the pieces there; as piece 2
// is opened, the attacker swaps the folder for a link to the victim's own `docs`. Everything
// still goes into the folder first opened, and nothing into `docs`.
// Each cast, the victim splitting or joining.
class SharedFolderSwappedFolder : public ::testing::TestWithParam<std::tuple<std::size_t, bool>> {};

TEST_P(SharedFolderSwappedFolder, AFolderSwappedForALinkMidwaySendsNothingIntoAnotherFolder) {
    CASTS_OR_SKIP(casts);
    const Cast& cast = casts[std::get<0>(GetParam())];
    const bool split = std::get<1>(GetParam());
    Stage stage(cast);
    const auto input = WritePattern(stage.victim / "report.pdf", 5 * kChunk + 3, 94);
    GiveTo(stage.victim / "report.pdf", cast.victim);
    if (!split) {
        ASSERT_EQ(RunAs(cast.victim,
                        [&] {
                            auto settings = SettingsFor(stage.share, kChunk);
                            return SplitFile(settings, stage.victim / "report.pdf")
                                       ? ""
                                       : settings.StatusMessage;
                        }),
                  "");
    }
    const auto before = Take(stage.victim);

    Gate ready;
    Gate swapped;
    const pid_t swapper =
        StartFolderSwapper(cast.attacker, stage.share, fs::path(Piece(stage.target, 2)).filename(),
                           stage.docs, ready, swapped);
    ready.CloseWriteEnd();
    swapped.CloseWriteEnd();
    ASSERT_TRUE(ready.Wait()) << "the attacker's watcher did not start";
    const std::string outcome = RunAs(cast.victim, [&] {
        HoldBeforeOpening files(Piece(stage.target, 3), swapped);
        auto settings = SettingsFor(stage.share, kChunk);
        const bool done = split ? SplitFile(settings, stage.victim / "report.pdf", {}, files)
                                : JoinFiles(settings, stage.target, {}, files);
        return done ? std::string() : "it said " + settings.StatusMessage;
    });
    EXPECT_EQ(WaitForChild(swapper), 0) << "the folder was not swapped";

    EXPECT_EQ(Take(stage.victim), before) << "a file went into the victim's folder";
    EXPECT_TRUE(fs::is_symlink(stage.share));
    EXPECT_EQ(outcome, "");
    const std::string moved = (stage.attacker / "share.old/report.pdf").string();
    if (split)
        ExpectPiecesAreExactlyTheSlices(moved, input, kChunk);
    else
        EXPECT_TRUE(SameBytes(ReadFile(moved), input));
}

INSTANTIATE_TEST_SUITE_P(, SharedFolderSwappedFolder,
                         ::testing::Combine(::testing::Range<std::size_t>(0, std::size(kCasts)),
                                            ::testing::Bool()),
                         [](const auto& test) {
                             return CastName(std::get<0>(test.param)) +
                                    (std::get<1>(test.param) ? "_ASplit" : "_AJoin");
                         });

// A link planted by the attacker's own process in the moment between the last look at a name
// and the open of it: only the open itself can refuse it. The placeholder a split leaves in the
// shared folder, and the target of a join that writes in place into a folder the victim may not
// write (there only an unprivileged victim joins in place).
struct PlantedLink {
    std::size_t cast;
    const char* operation;
    const char* pointee;
};
// Every cast splits; only an unprivileged victim joins in place.
const PlantedLink kPlantedLinks[] = {{kRootAsTheVictim, "split", "docs/report.pdf"},
                                     {kRootAsTheVictim, "split", "docs/created"},
                                     {1, "split", "docs/report.pdf"},
                                     {1, "split", "docs/created"},
                                     {1, "join", "docs/report.pdf"},
                                     {1, "join", "docs/created"}};

class SharedFolderLinkAtTheOpen : public ::testing::TestWithParam<PlantedLink> {};

TEST_P(SharedFolderLinkAtTheOpen, ALinkPlantedBetweenTheLookAtANameAndItsOpenIsRefusedByTheOpen) {
    CASTS_OR_SKIP(casts);
    const Cast& cast = casts[GetParam().cast];
    const std::string operation = GetParam().operation;
    const std::string pointee = GetParam().pointee;
    const bool split = operation == "split";
    Stage stage(cast);
    WritePattern(stage.victim / "report.pdf", 3 * kChunk, 95);
    GiveTo(stage.victim / "report.pdf", cast.victim);
    if (!split) {
        auto settings = SettingsFor(stage.share, kChunk);
        ASSERT_TRUE(SplitFile(settings, stage.victim / "report.pdf"));
        fs::remove(stage.target);
        GiveTo(stage.share, cast.attacker);
        fs::permissions(stage.share, kEveryoneEnters);
    }
    const auto before = Take(stage.victim);

    Gate atTheOpen;
    Gate planted;
    const pid_t planter = RunInChild([&] {
        atTheOpen.CloseWriteEnd();
        planted.CloseReadEnd();
        if (!Become(cast.attacker) || !atTheOpen.Wait()) return 1;
        if (::symlink((stage.victim / pointee).c_str(), stage.target.c_str()) != 0) return 2;
        planted.Open();
        return 0;
    });
    atTheOpen.CloseReadEnd();
    planted.CloseWriteEnd();
    const std::string outcome = RunAs(cast.victim, [&] {
        // Acts after every look the operation takes at the name, before the open itself.
        OneShotFileSystem files(
            [&](Call call, const std::string& path) {
                return call == Call::OpenOrCreate && path == stage.target;
            },
            [&] {
                atTheOpen.Open();
                planted.Wait();
            });
        auto settings = SettingsFor(stage.share, kChunk);
        const bool done = split ? SplitFile(settings, stage.victim / "report.pdf", {}, files)
                                : JoinFiles(settings, stage.target, {}, files);
        if (!files.fired()) return std::string("no OpenOrCreate of the name");
        return "done=" + std::to_string(done) + " " + settings.StatusMessage;
    });
    atTheOpen.CloseWriteEnd();
    EXPECT_EQ(WaitForChild(planter), 0) << "the link was not planted";

    EXPECT_EQ(outcome,
              std::string("done=0 ") + (split ? messages::kSplitFailed : messages::kJoinFailed));
    EXPECT_EQ(Take(stage.victim), before) << "the open followed the link";
    EXPECT_TRUE(fs::is_symlink(stage.target) &&
                fs::read_symlink(stage.target) == stage.victim / pointee)
        << "the link itself changed";
}

INSTANTIATE_TEST_SUITE_P(, SharedFolderLinkAtTheOpen, ::testing::ValuesIn(kPlantedLinks),
                         [](const auto& test) {
                             return CastName(test.param.cast) + "_" +
                                    CamelCase(test.param.operation) + "_ALinkTo" +
                                    CamelCase(test.param.pointee);
                         });

// Break pressed on the placeholder while piece 1 is still on the other medium: whatever of its
// set stands beside it, the split is refused and nothing changes.
struct Left {
    const char* what;
    std::vector<std::string> away;  // names taken to the other medium
};
const Left kLeft[] = {
    {"pieces 2 to 4 and the list", {"data.bin.1.BRK"}},
    {"pieces 2 to 4", {"data.bin.1.BRK", "data.bin.sha256"}},
    {"piece 3 alone", {"data.bin.1.BRK", "data.bin.2.BRK", "data.bin.4.BRK", "data.bin.sha256"}},
    {"the list alone", {"data.bin.1.BRK", "data.bin.2.BRK", "data.bin.3.BRK", "data.bin.4.BRK"}},
};

class SharedFolderPieceOneElsewhere : public ::testing::TestWithParam<Left> {};

TEST_P(SharedFolderPieceOneElsewhere, BreakOnThePlaceholderWhilePieceOneIsElsewhereChangesNothing) {
    const auto& left = GetParam();
    TempFolder temp;
    WritePattern(temp / "data.bin", 4 * kChunk - 1);
    auto settings = SettingsFor(temp / "out", kChunk);
    ASSERT_TRUE(SplitFile(settings, temp / "data.bin"));
    fs::create_directory(temp / "other-medium");
    for (const auto& name : left.away)
        fs::rename(temp / ("out/" + name), temp / ("other-medium/" + name));
    const auto before = Take(temp.path());

    const SplitCheck check = CheckSplit(SplitRequestFrom(settings, temp / "out/data.bin"));
    EXPECT_FALSE(check.plan.has_value());
    EXPECT_EQ(check.report.outcome, Outcome::Refused);
    EXPECT_EQ(check.report.status, messages::kSplitOfPlaceholder);
    settings.InfoMessage = "the summary of the split before";
    EXPECT_FALSE(SplitFile(settings, temp / "out/data.bin"));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitOfPlaceholder);
    EXPECT_EQ(settings.InfoMessage, "the summary of the split before");
    EXPECT_EQ(Take(temp.path()), before);
}

INSTANTIATE_TEST_SUITE_P(, SharedFolderPieceOneElsewhere, ::testing::ValuesIn(kLeft),
                         NamedByWhat());

// A download's own checksum list beside it, as sha256sum wrote it.
class SharedFolderForeignList : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(temp / "elsewhere");
        fs::create_directory(downloads);
        WritePattern(downloads + "/big.iso", 7 * kChunk / 2, 96);
        const auto made = RunTool(downloads, {"sha256sum", "big.iso"});
        ASSERT_EQ(made.exitCode, 0) << made.output;
        list.assign(made.output.begin(), made.output.end());
    }
    void PutLists() const {
        WriteFile(downloads + "/big.iso.sha256", list);
        WriteFile(temp / "elsewhere/big.iso.sha256", list);
    }

    TempFolder temp;
    const std::string downloads = temp / "Downloads";
    std::vector<char> list;
};

struct ForeignListCase {
    const char* what;
    bool elsewhere;  // into another folder, not the download's own
    bool cancelled;
    std::string blocking;  // a link planted under this name would make the writing fail
};
const ForeignListCase kForeignListCases[] = {
    {"into its own folder", false, false, ""},
    {"cancelled", false, true, ""},
    {"that would fail at piece 2", false, false, "big.iso.2.BRK"},
    {"into another folder with such a list", true, false, ""},
};

class SharedFolderForeignListSplit : public SharedFolderForeignList,
                                     public ::testing::WithParamInterface<ForeignListCase> {};

// Splitting the download into its own folder (or into any folder holding such a list of its
// name) is refused before anything is written, however the split would have ended, and the list
// stays as it was.
TEST_P(SharedFolderForeignListSplit, ASplitNeverReplacesAnotherProgramsChecksumFile) {
    const auto& c = GetParam();
    std::atomic<bool> cancelNow{true};
    const std::string folder = c.elsewhere ? temp / "elsewhere" : downloads;
    const OperationControl control =
        c.cancelled ? OperationControl{{}, &cancelNow} : OperationControl{};
    PutLists();
    if (!c.blocking.empty()) {
        fs::remove(folder + "/" + c.blocking);
        fs::create_symlink("/nonexistent", folder + "/" + c.blocking);
    }
    const auto before = Take(temp.path());
    auto settings = SettingsFor(folder, kChunk);
    EXPECT_FALSE(SplitFile(settings, downloads + "/big.iso", control));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitOverForeignList);
    EXPECT_EQ(Take(temp.path()), before);
    if (!c.blocking.empty()) fs::remove(folder + "/" + c.blocking);
}

INSTANTIATE_TEST_SUITE_P(, SharedFolderForeignListSplit, ::testing::ValuesIn(kForeignListCases),
                         NamedByWhat());

// The list arrives while the summary is shown: the writing refuses it as the check would.
TEST_F(SharedFolderForeignList, AListArrivingWhileTheSummaryIsShownIsRefusedByTheWriting) {
    PutLists();
    fs::remove(downloads + "/big.iso.sha256");
    RecordingDialog dialog([&] { WriteFile(downloads + "/big.iso.sha256", list); });
    auto settings = SettingsFor(downloads, kChunk);
    EXPECT_FALSE(SplitShowing(settings, downloads + "/big.iso", dialog));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitOverForeignList);
    const auto after = Take(temp.path());
    PutLists();
    EXPECT_EQ(after, Take(temp.path())) << "the refused writing left something behind";
}

}  // namespace
}  // namespace tessel::testing
