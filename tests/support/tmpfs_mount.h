// A small medium of a chosen size for a test: a tmpfs mounted on a fresh temporary folder, full
// like a diskette once its size is used, and write-protected on request. Mounting needs root, so
// elsewhere the tests that need one skip, saying why.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_folder.h"

namespace tessel::testing {

class TmpfsMount {
  public:
    // `size` as mount(8) takes it: "1440k", "16m".
    explicit TmpfsMount(const std::string& size);
    // Unmounts before the folder under it is removed.
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    // Why no medium could be mounted here; empty once it is mounted.
    const std::string& whyNot() const { return whyNot_; }
    std::string path() const { return folder_.path().string(); }
    std::string operator/(const std::string& name) const { return folder_ / name; }
    // As a write-protect tab pushed, or a medium the system turned read-only after errors.
    bool MakeReadOnly();

  private:
    TempFolder folder_;
    std::string options_;
    bool mounted_ = false;
    std::string whyNot_;
};

// A small medium served by a program in user space, as network shares and the drivers of many
// sticks are: an ext4 image mounted through FUSE by fuse2fs. Such file systems cannot make
// nameless files, so the join's new file takes a name of its own there. Needs root, fuse2fs and
// /dev/fuse.
class FuseMount {
  public:
    // `megabytes` of space for files.
    explicit FuseMount(int megabytes);
    ~FuseMount();
    FuseMount(const FuseMount&) = delete;
    FuseMount& operator=(const FuseMount&) = delete;

    const std::string& whyNot() const { return whyNot_; }
    std::string path() const { return (folder_.path() / "medium").string(); }
    std::string operator/(const std::string& name) const { return path() + "/" + name; }

  private:
    TempFolder folder_;
    bool mounted_ = false;
    std::string whyNot_;
};

}  // namespace tessel::testing

// Skips the test, with the reason, when `medium` (a TmpfsMount or FuseMount) could not be
// mounted.
#define SKIP_UNLESS_MOUNTED(medium)                                                 \
    do {                                                                            \
        if (const auto& why = (medium).whyNot(); !why.empty()) GTEST_SKIP() << why; \
    } while (false)
