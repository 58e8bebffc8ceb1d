// A join over a file that is already there. Replaced by a new file, the old one hands on its
// owner, group, permissions and user attributes; where no new file can stand beside it (a folder
// the user may not write, another user's file in a sticky folder, a medium with room for one of
// the two), the join checks every piece first and then writes into the old file itself. With a
// damaged piece the old file keeps every byte, whichever way the join would have gone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "engine/join.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "tests/support/case_names.h"
#include "tests/support/checked_runs.h"
#include "tests/support/file_state.h"
#include "tests/support/other_user.h"
#include "tests/support/piece_checks.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tmpfs_mount.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kChunk = 64 * 1024;
constexpr fs::perms kOwnerOnly = fs::perms::owner_read | fs::perms::owner_write;
constexpr fs::perms kGroupShares =
    kOwnerOnly | fs::perms::group_read | fs::perms::group_write | fs::perms::others_read;
constexpr fs::perms kEveryoneEnters = fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec;

std::string OwnerAndGroupOf(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return "missing";
    return std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid);
}

// Flips one byte in the middle of a file, keeping its length: a bad sector, a bad copy.
void Damage(const std::string& path) {
    auto bytes = ReadFile(path);
    bytes[bytes.size() / 2] = static_cast<char>(~bytes[bytes.size() / 2]);
    WriteFile(path, bytes);
}

// A file split for real into `folder` from a folder of originals beside it; each test puts its
// own older file where the join goes.
struct Set {
    Set(const fs::path& folder, const std::string& name, std::int64_t size)
        : target((folder / name).string()) {
        const fs::path original = folder.parent_path() / "originals" / name;
        fs::create_directories(original.parent_path());
        bytes = WritePattern(original, size, 70);
        auto settings = SettingsFor(folder, kChunk);
        EXPECT_TRUE(SplitFile(settings, original)) << settings.StatusMessage;
        fs::remove(target);
    }

    std::string target;
    std::vector<char> bytes;
};

// Joins `target` as `user` with `mask` as the umask, and says how it ended: "joined", or what
// the status line said.
std::string JoinAs(const OtherUser& user, const std::string& target, mode_t mask = 022) {
    return RunAs(user, [&] {
        ::umask(mask);
        auto settings = SettingsFor("/nonexistent", kChunk);
        return JoinFiles(settings, target) ? "joined: " + settings.StatusMessage
                                           : settings.StatusMessage;
    });
}

const std::string kJoinedVerified = std::string("joined: ") + messages::kJoinVerified;

// The old file a join goes over: the user's own, or another's, with some older bytes.
std::vector<char> PutOlderFile(const std::string& path, std::int64_t size, const OtherUser& owner,
                               fs::perms mode) {
    auto older = WritePattern(path, size, 71);
    EXPECT_EQ(::chown(path.c_str(), owner.uid, owner.gid), 0);
    fs::permissions(path, mode);
    return older;
}

TEST(Replacing, AJoinByReplacementKeepsTheOwnerModeAndUserAttributesOfTheOldFile) {
    std::string whyNot;
    const auto user = FindOtherUser(whyNot);
    if (!user) GTEST_SKIP() << "only root may hand a file to another user: " << whyNot;
    TempFolder temp;
    const Set set(temp / "out", "thesis.odt", 5 * kChunk / 2);
    const std::vector<std::pair<std::string, std::string>> attributes = {
        {"user.xdg.origin.url", "https://example.org/thesis.odt"}, {"user.comment", "draft 7"}};
    const auto putOlderFile = [&] {
        PutOlderFile(set.target, 3000, *user, kOwnerOnly);
        for (const auto& [name, value] : attributes)
            if (::setxattr(set.target.c_str(), name.c_str(), value.data(), value.size(), 0) != 0)
                return errno;
        return 0;
    };
    const int noAttributes = putOlderFile();
    ASSERT_TRUE(noAttributes == 0 || noAttributes == ENOTSUP) << std::strerror(noAttributes);
    const auto replaced = InodeOf(set.target);

    // Root joins over the user's private file: it stays the user's, and private.
    auto settings = SettingsFor(temp / "unused", kChunk);
    ASSERT_TRUE(JoinFiles(settings, set.target)) << settings.StatusMessage;
    EXPECT_TRUE(SameBytes(ReadFile(set.target), set.bytes));
    EXPECT_NE(InodeOf(set.target), replaced) << "written in place, not replaced";
    struct stat joined {};
    ASSERT_EQ(::stat(set.target.c_str(), &joined), 0);
    EXPECT_EQ(joined.st_uid, user->uid);
    EXPECT_EQ(joined.st_gid, user->gid);
    EXPECT_EQ(joined.st_mode & 07777, 0600u);
    if (noAttributes != 0) {
        std::cout << "[   INFO   ] user attributes not checked: " << temp.path()
                  << " does not keep them\n";
    } else {
        for (const auto& [name, value] : attributes) {
            std::string kept(256, '\0');
            const ssize_t got = ::getxattr(set.target.c_str(), name.c_str(), kept.data(), 256);
            EXPECT_EQ(got < 0 ? "none" : kept.substr(0, static_cast<std::size_t>(got)), value)
                << name;
        }
    }

    // A damaged piece: the old file, its owner, mode and attributes, stay as they were.
    ASSERT_EQ(putOlderFile(), noAttributes);
    const auto before = StateOf(set.target);
    Damage(Piece(set.target, 2));
    EXPECT_FALSE(JoinFiles(settings, set.target));
    EXPECT_EQ(settings.StatusMessage, PieceDamaged(2));
    EXPECT_EQ(StateOf(set.target), before);
    EXPECT_EQ(::getxattr(set.target.c_str(), "user.comment", nullptr, 0) >= 0, noAttributes == 0);
}

// Where no new file can be made beside the target or take its name, an unprivileged user's join
// writes in place: checked piece by piece first where a checksum file lists them, refused when
// none does and the old file holds data, and never begun over a damaged piece.
struct Folder {
    const char* what;
    fs::perms mode;
    bool oldFileIsTheJoiners;  // otherwise it is the other user's
    fs::perms oldFileMode;
    mode_t umask;
};
const Folder kFolders[] = {
    {"the user's own file in a folder the user may not write", kEveryoneEnters, true,
     fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
         fs::perms::others_read,
     022},
    // With a shared group's usual umask, 002: under 022 the old file's bits would have to be
    // narrowed, which only its owner may do, and the join would be refused.
    {"another user's file, writable by their shared group, in a sticky folder",
     fs::perms::all | fs::perms::sticky_bit, false, kGroupShares, 002},
};

class ReplacingInPlace : public ::testing::TestWithParam<Folder> {};

TEST_P(ReplacingInPlace,
       WhereNoNewFileCanTakeTheTargetsNameTheJoinWritesInPlaceAfterCheckingEveryPiece) {
    std::string whyNot;
    const auto users = FindUsersSharingAGroup(whyNot);
    if (!users) GTEST_SKIP() << "these folders need two unprivileged users: " << whyNot;
    const OtherUser& joiner = users->second;
    const auto& folder = GetParam();
    const OtherUser& ownerOfTheOldFile = folder.oldFileIsTheJoiners ? joiner : users->first;
    TempFolder temp;
    fs::permissions(temp.path(), kEveryoneEnters);
    fs::create_directory(temp / "shared");
    const Set set(temp / "shared", "minutes.txt", 5 * kChunk / 2);
    for (const auto& entry : fs::directory_iterator(temp / "shared"))
        fs::permissions(entry.path(), kGroupShares);
    fs::permissions(temp / "shared", folder.mode);
    const auto putOlderFile = [&](std::int64_t size) {
        const auto older = PutOlderFile(set.target, size, ownerOfTheOldFile, folder.oldFileMode);
        EXPECT_EQ(::chown(set.target.c_str(), static_cast<uid_t>(-1), users->group), 0);
        return older;
    };

    putOlderFile(3000);
    const auto oldFile = InodeOf(set.target);
    const auto owner = OwnerAndGroupOf(set.target);
    EXPECT_EQ(JoinAs(joiner, set.target, folder.umask), kJoinedVerified);
    EXPECT_TRUE(SameBytes(ReadFile(set.target), set.bytes));
    EXPECT_EQ(InodeOf(set.target), oldFile) << "not written in place";
    EXPECT_EQ(OwnerAndGroupOf(set.target), owner);

    // A damaged piece is found before the old file is touched.
    putOlderFile(3000);
    auto before = StateOf(set.target);
    const auto intact = ReadFile(Piece(set.target, 3));
    Damage(Piece(set.target, 3));
    EXPECT_EQ(JoinAs(joiner, set.target, folder.umask), PieceDamaged(3));
    EXPECT_EQ(StateOf(set.target), before);
    WriteFile(Piece(set.target, 3), intact);

    // Without a checksum file nothing could tell a damaged piece in time: only an empty old
    // file is written over.
    const std::string list = set.target + kChecksumSuffix;
    fs::rename(list, temp / "list");
    before = StateOf(set.target);
    EXPECT_EQ(JoinAs(joiner, set.target, folder.umask), messages::kJoinFailed);
    EXPECT_EQ(StateOf(set.target), before);
    putOlderFile(0);
    EXPECT_EQ(JoinAs(joiner, set.target, folder.umask),
              std::string("joined: ") + messages::kJoinSucceeded);
    EXPECT_TRUE(SameBytes(ReadFile(set.target), set.bytes));
    fs::rename(temp / "list", list);
}

INSTANTIATE_TEST_SUITE_P(, ReplacingInPlace, ::testing::ValuesIn(kFolders), NamedByWhat());

// A set joined over an older file of the same size on a medium with room for only one of the
// two (the pieces lie on another medium, reached through links): written in place once every
// piece is checked; with a damaged piece the old file stays as it was.
TEST(Replacing, OnAMediumWithRoomForOneFileTheJoinWritesInPlaceAfterCheckingEveryPiece) {
    TmpfsMount stick("1m");
    SKIP_UNLESS_MOUNTED(stick);
    TempFolder temp;
    constexpr std::int64_t kSize = 600 * 1024;
    const Set set(temp / "pieces", "video.mp4", kSize);
    const std::string target = stick / "video.mp4";
    for (int n = 1; n <= 10; ++n) fs::create_symlink(Piece(set.target, n), Piece(target, n));
    fs::copy_file(set.target + kChecksumSuffix, target + kChecksumSuffix);

    const auto older = WritePattern(target, kSize, 72);
    const auto oldFile = InodeOf(target);
    auto settings = SettingsFor(temp / "unused", kChunk);
    EXPECT_TRUE(JoinFiles(settings, target)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(SameBytes(ReadFile(target), set.bytes));
    EXPECT_EQ(InodeOf(target), oldFile) << "not written in place";

    WriteFile(target, older);
    const auto before = StateOf(target);
    Damage(Piece(set.target, 7));
    EXPECT_FALSE(JoinFiles(settings, target));
    EXPECT_EQ(settings.StatusMessage, PieceDamaged(7));
    EXPECT_EQ(StateOf(target), before);
}

}  // namespace
}  // namespace tessel::testing
