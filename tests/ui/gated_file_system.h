// A file system whose reads on the window's worker thread wait at a gate that the test opens,
// so that a test knows how far a split or join has copied when it acts. The gate is open until
// a test closes it; files opened while it is open are not gated at all, and neither is a
// checksum file (the join's check reads it), so that the reads counted are the copy's. Reads on
// the thread that made the file system always pass at once. Apart from the gate, a test may hold
// every look at a file's name on the worker (the checks of a split or join) until it lets go.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "engine/checksum.h"
#include "tests/support/pass_through_file_system.h"

namespace tessel::testing {

class GatedFileSystem final : public PassThroughFileSystem {
  public:
    // Gates the files opened from now on: each of their reads waits until LetThrough or Open allows
    // it. The count of reads starts again at 0.
    void Close() {
        const std::lock_guard lock(gate_->mutex);
        gate_->open = false;
        gate_->allowed = gate_->passed = gate_->asked = 0;
    }
    // Lets the first `reads` reads since Close through.
    void LetThrough(int reads) {
        {
            const std::lock_guard lock(gate_->mutex);
            gate_->allowed = std::max(gate_->allowed, reads);
        }
        gate_->changed.notify_all();
    }
    // Lets every read through from now on.
    void Open() {
        {
            const std::lock_guard lock(gate_->mutex);
            gate_->open = true;
        }
        gate_->changed.notify_all();
    }
    // Reads that reached the gate since it was closed: the ones let through and the one waiting
    // there.
    int ReadsAsked() const {
        const std::lock_guard lock(gate_->mutex);
        return gate_->asked;
    }

    // Holds, or lets go of, every look at a name on another thread than the test's.
    void HoldLooks(bool hold) {
        {
            const std::lock_guard lock(gate_->mutex);
            gate_->holdLooks = hold;
        }
        gate_->changed.notify_all();
    }
    // Whether a look has been held since HoldLooks(true).
    bool LookHeld() const {
        const std::lock_guard lock(gate_->mutex);
        return gate_->lookHeld;
    }

    std::unique_ptr<platform::File> OpenForReading(const std::string& path,
                                                   bool exclusive) override {
        return Gated(inner_.OpenForReading(path, exclusive));
    }
    platform::EntryInfo Examine(const std::string& path, platform::Follow follow) override {
        WaitToLook();
        return inner_.Examine(path, follow);
    }

  protected:
    std::unique_ptr<platform::Folder> WrapFolder(const std::string& path,
                                                 std::unique_ptr<platform::Folder> inner) override {
        return std::make_unique<GatedFolder>(*this, path, std::move(inner));
    }

  private:
    struct Gate {
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool open = true;
        bool holdLooks = false;
        bool lookHeld = false;
        int allowed = 0;
        int passed = 0;
        int asked = 0;
    };

    class GatedFile final : public ForwardingFile<platform::File> {
      public:
        GatedFile(std::unique_ptr<platform::File> inner, std::shared_ptr<Gate> gate)
            : ForwardingFile(std::move(inner)), gate_(std::move(gate)) {}
        std::optional<std::size_t> Read(std::span<std::byte> into) override {
            {
                std::unique_lock lock(gate_->mutex);
                ++gate_->asked;
                gate_->changed.wait(
                    lock, [this] { return gate_->open || gate_->passed < gate_->allowed; });
                ++gate_->passed;
            }
            return inner_->Read(into);
        }
        // Every byte passes the gate, none around it through the kernel.
        platform::KernelCopy CopyInKernelFrom(platform::File&, std::int64_t) override { return {}; }

      private:
        std::shared_ptr<Gate> gate_;
    };

    // Reads of the pieces a join opens in their folder are gated too.
    class GatedFolder final : public PassThroughFolder {
      public:
        GatedFolder(GatedFileSystem& owner, std::string path,
                    std::unique_ptr<platform::Folder> inner)
            : PassThroughFolder(std::move(path), std::move(inner)), owner_(owner) {}
        std::unique_ptr<platform::File> OpenForReading(const std::string& name,
                                                       platform::Follow follow) override {
            auto file = inner_->OpenForReading(name, follow);
            if (name.ends_with(kChecksumSuffix)) return file;
            return owner_.Gated(std::move(file));
        }
        platform::EntryInfo Examine(const std::string& name, platform::Follow follow) override {
            owner_.WaitToLook();
            return inner_->Examine(name, follow);
        }

      private:
        GatedFileSystem& owner_;
    };

    std::unique_ptr<platform::File> Gated(std::unique_ptr<platform::File> file) {
        if (!file || std::this_thread::get_id() == owner_ || IsOpen()) return file;
        return std::make_unique<GatedFile>(std::move(file), gate_);
    }

    void WaitToLook() {
        if (std::this_thread::get_id() == owner_) return;
        std::unique_lock lock(gate_->mutex);
        if (gate_->holdLooks) gate_->lookHeld = true;
        gate_->changed.wait(lock, [this] { return !gate_->holdLooks; });
    }

    bool IsOpen() const {
        const std::lock_guard lock(gate_->mutex);
        return gate_->open;
    }

    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace tessel::testing
