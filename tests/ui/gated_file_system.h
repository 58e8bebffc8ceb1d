// A file system whose reads on the window's worker thread wait at a gate that the test opens,
// so that a test knows how far a split or join has copied when it acts. The gate is open until
// a test closes it; files opened while it is open are not gated at all. Reads on the thread
// that made the file system (the window's checks) always pass at once.
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

    std::unique_ptr<platform::File> OpenForReading(const std::string& path) override {
        auto file = inner_.OpenForReading(path);
        if (!file || std::this_thread::get_id() == owner_ || IsOpen()) return file;
        return std::make_unique<GatedFile>(std::move(file), gate_);
    }

  private:
    struct Gate {
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool open = true;
        int allowed = 0;
        int passed = 0;
        int asked = 0;
    };

    class GatedFile final : public platform::File {
      public:
        GatedFile(std::unique_ptr<platform::File> inner, std::shared_ptr<Gate> gate)
            : inner_(std::move(inner)), gate_(std::move(gate)) {}
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
        bool Write(std::span<const std::byte> bytes) override { return inner_->Write(bytes); }
        bool Flush() override { return inner_->Flush(); }

      private:
        std::unique_ptr<platform::File> inner_;
        std::shared_ptr<Gate> gate_;
    };

    bool IsOpen() const {
        const std::lock_guard lock(gate_->mutex);
        return gate_->open;
    }

    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace tessel::testing
