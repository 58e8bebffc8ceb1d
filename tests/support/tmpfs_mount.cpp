#include "tests/support/tmpfs_mount.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "tests/support/run_tool.h"

namespace tessel::testing {
namespace {

// Mounts made by the tests go, where the system allows it, into a mount namespace of this
// process alone, so that a crash cannot leave them behind on the machine. Where it does not (in a
// chroot, for one) they are made in the shared namespace and only the destructor removes them.
// Returns why no mount can be made at all.
std::optional<std::string> PrepareToMount() {
    static const std::optional<std::string> refusal = []() -> std::optional<std::string> {
        if (::geteuid() != 0) return "mounting a tmpfs needs root";
        if (::unshare(CLONE_NEWNS) == 0)
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
        return std::nullopt;
    }();
    return refusal;
}

}  // namespace

TmpfsMount::TmpfsMount(const std::string& size) : options_("size=" + size) {
    if (const auto refusal = PrepareToMount()) {
        whyNot_ = *refusal;
    } else if (::mount("tmpfs", path().c_str(), "tmpfs", 0, options_.c_str()) == 0) {
        mounted_ = true;
    } else {
        whyNot_ = std::string("mount refused: ") + std::strerror(errno);
    }
}

TmpfsMount::~TmpfsMount() {
    if (mounted_ && ::umount2(path().c_str(), 0) != 0) ::umount2(path().c_str(), MNT_DETACH);
}

bool TmpfsMount::MakeReadOnly() {
    return ::mount("tmpfs", path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, options_.c_str()) == 0;
}

FuseMount::FuseMount(int megabytes) {
    if (const auto refusal = PrepareToMount()) {
        whyNot_ = *refusal;
        return;
    }
    const std::string image = folder_ / "medium.img";
    std::filesystem::create_directory(path());
    WriteFile(image, {});
    std::filesystem::resize_file(image, static_cast<std::uintmax_t>(megabytes) * 1024 * 1024);
    const auto format = RunTool(folder_.path().string(), {"mkfs.ext4", "-q", "-F", image});
    if (format.exitCode != 0) {
        whyNot_ = "mkfs.ext4 failed: " + format.output;
        return;
    }
    const auto mount = RunTool(folder_.path().string(), {"fuse2fs", image, path()});
    if (mount.exitCode != 0) {
        whyNot_ = "no FUSE mount here (fuse2fs and /dev/fuse are needed): " + mount.output;
        return;
    }
    mounted_ = true;
}

FuseMount::~FuseMount() {
    if (mounted_ && ::umount2(path().c_str(), 0) != 0) ::umount2(path().c_str(), MNT_DETACH);
}

}  // namespace tessel::testing
