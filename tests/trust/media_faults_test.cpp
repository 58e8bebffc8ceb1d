// Faults that real media produce: a medium that fills up in the middle of a piece, pieces on a
// read-only medium, an output medium that turns read-only between two splits, and files that
// vanish or shrink while a split or join is under way. Every case must end with a clear status,
// no descriptor left open, and the files it only reads left as they were.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/join.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "tests/support/temp_folder.h"
#include "tests/trust/trust_support.h"

namespace tessel {
namespace {

using testing::PatternBytes;
using testing::TempFolder;
using testing::WriteFile;
using trust::CountOpenDescriptors;
using trust::ExpectedPieces;
using trust::PiecePath;
using trust::ReadWhole;
using trust::SameBytes;
using trust::SettingsFor;
using trust::SilentDialog;
using trust::Slice;

constexpr std::int64_t kDisketteChunk = 1457644;  // the 1.44 MB diskette preset
constexpr char kDisketteSize[] = "size=1440k";
constexpr char kRoomySize[] = "size=16m";
// Set in InfoMessage before a join, to see whether the join touched it.
constexpr char kEarlierInfo[] = "an earlier summary";

// Mounts made by these tests go into a mount namespace of this process alone, so that a crash
// cannot leave them behind on the machine. Returns why not, when that is refused.
std::optional<std::string> EnterPrivateMountNamespace() {
    static const std::optional<std::string> refusal = []() -> std::optional<std::string> {
        if (::geteuid() != 0) return "mounting a tmpfs needs root";
        if (::unshare(CLONE_NEWNS) != 0)
            return std::string("no mount namespace of our own: ") + std::strerror(errno);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("mounts cannot be made private: ") + std::strerror(errno);
        return std::nullopt;
    }();
    return refusal;
}

// A tmpfs of a given size mounted on an empty folder; unmounted when the test ends.
class TmpfsMedium {
  public:
    TmpfsMedium(const std::string& mountPoint, const std::string& options)
        : mountPoint_(mountPoint), options_(options) {
        std::filesystem::create_directory(mountPoint_);
        if (::mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, options_.c_str()) == 0)
            mounted_ = true;
        else
            refusal_ = std::string("mount refused: ") + std::strerror(errno);
    }
    ~TmpfsMedium() {
        if (mounted_ && ::umount2(mountPoint_.c_str(), 0) != 0)
            ::umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    TmpfsMedium(const TmpfsMedium&) = delete;
    TmpfsMedium& operator=(const TmpfsMedium&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& refusal() const { return refusal_; }
    const std::string& path() const { return mountPoint_; }

    // As a write-protect tab pushed, or a medium the system turned read-only after errors.
    bool MakeReadOnly() {
        return ::mount("tmpfs", mountPoint_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY,
                       options_.c_str()) == 0;
    }

  private:
    std::string mountPoint_;
    std::string options_;
    bool mounted_ = false;
    std::string refusal_;
};

// Skips the test, with the reason, when this process cannot mount a medium of its own.
#define SKIP_WITHOUT_PRIVATE_MOUNTS()                                            \
    do {                                                                         \
        if (const auto why = EnterPrivateMountNamespace()) GTEST_SKIP() << *why; \
    } while (false)

#define SKIP_UNLESS_MOUNTED(medium)                                  \
    do {                                                             \
        if (!(medium).mounted()) GTEST_SKIP() << (medium).refusal(); \
    } while (false)

// A piece file on `medium`, seen from another folder through a symbolic link: the join finds
// pieces beside its target, so a target on a writable disk reads pieces off a read-only
// medium this way.
void LinkPieces(const std::string& fromBase, const std::string& toBase, std::int64_t count) {
    for (std::int64_t n = 1; n <= count; ++n)
        std::filesystem::create_symlink(PiecePath(fromBase, n), PiecePath(toBase, n));
}

void SplitInto(const std::string& folder, const std::string& input, std::int64_t chunk) {
    auto settings = SettingsFor(folder, chunk);
    SilentDialog dialog;
    ASSERT_TRUE(SplitFile(settings, input, dialog)) << settings.StatusMessage;
}

void ExpectPiecesAreSlices(const std::string& base, const std::vector<char>& input,
                           std::int64_t chunk) {
    const auto count = ExpectedPieces(static_cast<std::int64_t>(input.size()), chunk);
    for (std::int64_t n = 1; n <= count; ++n)
        EXPECT_TRUE(SameBytes(ReadWhole(PiecePath(base, n)), Slice(input, (n - 1) * chunk, chunk)))
            << "piece " << n;
}

TEST(MediaFaults, MediumFullInTheMiddleOfASecondPieceFailsAndKeepsTheFirst) {
    SKIP_WITHOUT_PRIVATE_MOUNTS();
    TempFolder temp;
    TmpfsMedium diskette(temp / "diskette", kDisketteSize);
    SKIP_UNLESS_MOUNTED(diskette);
    const std::string input = temp / "scan.tif";
    const auto bytes = PatternBytes(2 * 1024 * 1024, 3);
    WriteFile(input, bytes);

    auto settings = SettingsFor(diskette.path(), kDisketteChunk);
    SilentDialog dialog;
    const int descriptors = CountOpenDescriptors();
    EXPECT_FALSE(SplitFile(settings, input, dialog));
    EXPECT_EQ(CountOpenDescriptors(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(settings.StatusMessage, messages::kSplitFailed);
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(settings.InfoMessage, dialog.shown[0]) << "a failed write keeps the summary";

    const std::string base = diskette.path() + "/scan.tif";
    ASSERT_TRUE(std::filesystem::exists(PiecePath(base, 1)));
    EXPECT_TRUE(SameBytes(ReadWhole(PiecePath(base, 1)), Slice(bytes, 0, kDisketteChunk)))
        << "the piece written before the medium filled up";
    EXPECT_TRUE(SameBytes(ReadWhole(input), bytes)) << "the input changed";
}

TEST(MediaFaults, JoinReadsPiecesOffAReadOnlyMediumAndCannotWriteOntoIt) {
    SKIP_WITHOUT_PRIVATE_MOUNTS();
    TempFolder temp;
    TmpfsMedium cdrom(temp / "cdrom", kRoomySize);
    SKIP_UNLESS_MOUNTED(cdrom);
    const std::string input = temp / "photos.zip";
    const std::int64_t chunk = 100000;
    const auto bytes = PatternBytes(3 * chunk - 17, 4);
    WriteFile(input, bytes);
    SplitInto(cdrom.path(), input, chunk);
    ASSERT_TRUE(cdrom.MakeReadOnly()) << std::strerror(errno);
    const std::string onMedium = cdrom.path() + "/photos.zip";

    // Rebuilt on the writable disk from the pieces on the read-only medium.
    std::filesystem::create_directory(temp / "restore");
    const std::string target = temp / "restore/photos.zip";
    LinkPieces(onMedium, target, 3);
    auto settings = SettingsFor(temp / "unused", chunk);
    int descriptors = CountOpenDescriptors();
    EXPECT_TRUE(JoinFiles(settings, target)) << settings.StatusMessage;
    EXPECT_EQ(CountOpenDescriptors(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(settings.StatusMessage, messages::kJoinSucceeded);
    EXPECT_TRUE(SameBytes(ReadWhole(target), bytes)) << "joined from the read-only medium";

    // The empty file the split left on the medium cannot become the joined file there.
    settings.InfoMessage = kEarlierInfo;
    descriptors = CountOpenDescriptors();
    EXPECT_FALSE(JoinFiles(settings, onMedium));
    EXPECT_EQ(CountOpenDescriptors(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
    EXPECT_EQ(settings.InfoMessage, kEarlierInfo) << "a target that cannot be opened";
    EXPECT_EQ(std::filesystem::file_size(onMedium), 0u);
    ExpectPiecesAreSlices(onMedium, bytes, chunk);
}

TEST(MediaFaults, OutputMediumTurnedReadOnlyBetweenTwoSplitsFailsTheSecondCleanly) {
    SKIP_WITHOUT_PRIVATE_MOUNTS();
    TempFolder temp;
    TmpfsMedium stick(temp / "stick", kRoomySize);
    SKIP_UNLESS_MOUNTED(stick);
    const std::string folder = stick.path() + "/Tessel";
    const std::int64_t chunk = 65536;
    const std::string first = temp / "first.iso";
    const std::string second = temp / "second.iso";
    const auto firstBytes = PatternBytes(3 * chunk + 5, 5);
    const auto secondBytes = PatternBytes(2 * chunk, 6);
    WriteFile(first, firstBytes);
    WriteFile(second, secondBytes);
    SplitInto(folder, first, chunk);
    ASSERT_TRUE(stick.MakeReadOnly()) << std::strerror(errno);

    // Another input: its first piece cannot be created.
    auto settings = SettingsFor(folder, chunk);
    SilentDialog dialog;
    int descriptors = CountOpenDescriptors();
    EXPECT_FALSE(SplitFile(settings, second, dialog));
    EXPECT_EQ(CountOpenDescriptors(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(settings.StatusMessage, messages::kSplitFailed);
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(settings.InfoMessage, dialog.shown[0]) << "a piece that cannot be made";
    EXPECT_FALSE(std::filesystem::exists(PiecePath(folder + "/second.iso", 1)));

    // The same input again: its old first piece cannot be deleted.
    descriptors = CountOpenDescriptors();
    EXPECT_FALSE(SplitFile(settings, first, dialog));
    EXPECT_EQ(CountOpenDescriptors(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(settings.StatusMessage, messages::kSplitFailed);
    EXPECT_EQ(settings.InfoMessage,
              messages::kSplitFailedInfoOpen + first + messages::kFailedInfoClose);

    ExpectPiecesAreSlices(folder + "/first.iso", firstBytes, chunk);
    EXPECT_TRUE(SameBytes(ReadWhole(first), firstBytes)) << "the first input changed";
    EXPECT_TRUE(SameBytes(ReadWhole(second), secondBytes)) << "the second input changed";
}

TEST(MediaFaults, JoinOntoAFullMediumFailsCleanly) {
    SKIP_WITHOUT_PRIVATE_MOUNTS();
    TempFolder temp;
    TmpfsMedium diskette(temp / "diskette", kDisketteSize);
    SKIP_UNLESS_MOUNTED(diskette);
    const std::string input = temp / "backup.tar";
    const std::int64_t chunk = 1 << 20;
    const auto bytes = PatternBytes(2 * chunk + 4321, 7);
    WriteFile(input, bytes);
    std::filesystem::create_directory(temp / "pieces");
    SplitInto(temp / "pieces", input, chunk);
    const std::string target = diskette.path() + "/backup.tar";
    LinkPieces(temp / "pieces/backup.tar", target, 3);

    auto settings = SettingsFor(temp / "unused", chunk);
    settings.InfoMessage = kEarlierInfo;
    const int descriptors = CountOpenDescriptors();
    EXPECT_FALSE(JoinFiles(settings, target));
    EXPECT_EQ(CountOpenDescriptors(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
    EXPECT_EQ(settings.InfoMessage, kEarlierInfo) << "a write that fails on a full medium";
    ExpectPiecesAreSlices(temp / "pieces/backup.tar", bytes, chunk);
}

// Does what the test asks once, the first time the engine makes a call that `trigger` picks.
class OneShotFileSystem final : public trust::PassThroughFileSystem {
  public:
    enum class Call { Length, OpenExclusive, OpenForReading };
    using Trigger = std::function<bool(Call, const std::string&)>;

    OneShotFileSystem(Trigger trigger, std::function<void()> action)
        : trigger_(std::move(trigger)), action_(std::move(action)) {}

    bool fired() const { return fired_; }

    std::optional<std::int64_t> FileLength(const std::string& path) override {
        Notice(Call::Length, path);
        return PassThroughFileSystem::FileLength(path);
    }
    std::unique_ptr<platform::File> OpenExclusive(const std::string& path) override {
        Notice(Call::OpenExclusive, path);
        return PassThroughFileSystem::OpenExclusive(path);
    }
    std::unique_ptr<platform::File> OpenForReading(const std::string& path) override {
        Notice(Call::OpenForReading, path);
        return PassThroughFileSystem::OpenForReading(path);
    }

  private:
    void Notice(Call call, const std::string& path) {
        if (fired_ || !trigger_(call, path)) return;
        fired_ = true;
        action_();
    }

    Trigger trigger_;
    std::function<void()> action_;
    bool fired_ = false;
};

// Three pieces of a file, split for real, for the joins below to be disturbed.
struct SplitFixture {
    static constexpr std::int64_t kChunk = 40000;
    TempFolder temp;
    std::string target = temp / "out/letters.txt";
    std::vector<char> bytes = PatternBytes(3 * kChunk - 1000, 8);

    SplitFixture() {
        WriteFile(temp / "letters.txt", bytes);
        auto settings = SettingsFor(temp / "out", kChunk);
        SilentDialog dialog;
        if (!SplitFile(settings, temp / "letters.txt", dialog)) ADD_FAILURE() << "split failed";
    }
    std::string Piece(std::int64_t n) const { return PiecePath(target, n); }
    std::vector<char> Slice(std::int64_t n) const {
        return trust::Slice(bytes, (n - 1) * kChunk, kChunk);
    }
};

bool IsPiece(const std::string& path, const std::string& target) {
    return path.starts_with(target + ".") && path.ends_with(kDefaultPieceExtension);
}

TEST(MediaFaults, PieceVanishingOrShrinkingDuringAJoinEndsInTheFailureTexts) {
    struct Disturbance {
        const char* what;
        std::function<bool(OneShotFileSystem::Call, const std::string&, const SplitFixture&)> when;
        std::function<void(const SplitFixture&)> action;
        bool vanished;
    };
    using Call = OneShotFileSystem::Call;
    const std::vector<Disturbance> disturbances = {
        {"piece 2 deleted once the pieces are counted",
         [](Call call, const std::string& path, const SplitFixture& f) {
             return call != Call::OpenExclusive && IsPiece(path, f.target);
         },
         [](const SplitFixture& f) { std::filesystem::remove(f.Piece(2)); }, true},
        {"piece 2 deleted once the target is open",
         [](Call call, const std::string& path, const SplitFixture& f) {
             return call == Call::OpenExclusive && path == f.target;
         },
         [](const SplitFixture& f) { std::filesystem::remove(f.Piece(2)); }, true},
        {"piece 2 cut to half its length once the target is open",
         [](Call call, const std::string& path, const SplitFixture& f) {
             return call == Call::OpenExclusive && path == f.target;
         },
         [](const SplitFixture& f) {
             std::filesystem::resize_file(f.Piece(2), SplitFixture::kChunk / 2);
         },
         false},
    };
    for (const auto& disturbance : disturbances) {
        SCOPED_TRACE(disturbance.what);
        SplitFixture fixture;
        if (HasFatalFailure()) return;
        const std::string failureInfo =
            messages::kJoinFailedInfoOpen + fixture.target + messages::kFailedInfoClose;
        OneShotFileSystem files(
            [&](Call call, const std::string& path) {
                return disturbance.when(call, path, fixture);
            },
            [&] { disturbance.action(fixture); });
        auto settings = SettingsFor(fixture.temp / "unused", SplitFixture::kChunk);
        settings.InfoMessage = kEarlierInfo;
        const int descriptors = CountOpenDescriptors();
        EXPECT_FALSE(JoinFiles(settings, fixture.target, {}, files));
        EXPECT_TRUE(files.fired()) << "the disturbance never happened";
        EXPECT_EQ(CountOpenDescriptors(), descriptors) << "a descriptor was left open";
        EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
        // A piece that is gone may be noticed when its length is asked (the failure text) or
        // when it is opened (nothing new); one that came up short is always a failure.
        if (disturbance.vanished) {
            EXPECT_TRUE(settings.InfoMessage == failureInfo || settings.InfoMessage == kEarlierInfo)
                << settings.InfoMessage;
        } else {
            EXPECT_EQ(settings.InfoMessage, failureInfo);
        }
        EXPECT_TRUE(SameBytes(ReadWhole(fixture.Piece(1)), fixture.Slice(1)));
        EXPECT_TRUE(SameBytes(ReadWhole(fixture.Piece(3)), fixture.Slice(3)));
        if (std::filesystem::exists(fixture.target)) {
            EXPECT_LT(std::filesystem::file_size(fixture.target), fixture.bytes.size())
                << "a failed join must not leave what looks like the whole file";
        }
    }
}

TEST(MediaFaults, InputShrinkingDuringASplitEndsInTheFailureTexts) {
    TempFolder temp;
    const std::int64_t chunk = 50000;
    const std::string input = temp / "growing.log";
    const auto bytes = PatternBytes(3 * chunk, 9);
    WriteFile(input, bytes);
    const std::string base = temp / "out/growing.log";
    // Another program cuts the input short while the second piece is being made.
    OneShotFileSystem files(
        [&](OneShotFileSystem::Call call, const std::string& path) {
            return call == OneShotFileSystem::Call::OpenExclusive && path == PiecePath(base, 2);
        },
        [&] { std::filesystem::resize_file(input, chunk + chunk / 2); });

    auto settings = SettingsFor(temp / "out", chunk);
    SilentDialog dialog;
    const int descriptors = CountOpenDescriptors();
    EXPECT_FALSE(SplitFile(settings, input, dialog, {}, files));
    EXPECT_TRUE(files.fired()) << "the input was never cut";
    EXPECT_EQ(CountOpenDescriptors(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(settings.StatusMessage, messages::kSplitFailed);
    EXPECT_EQ(settings.InfoMessage,
              messages::kSplitFailedInfoOpen + input + messages::kFailedInfoClose);
    EXPECT_TRUE(SameBytes(ReadWhole(PiecePath(base, 1)), Slice(bytes, 0, chunk)));
}

}  // namespace
}  // namespace tessel
