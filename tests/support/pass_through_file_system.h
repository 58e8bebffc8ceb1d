// A FileSystem that forwards every call to another one; tests override the calls they disturb.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tessel::testing {

class PassThroughFileSystem : public platform::FileSystem {
  public:
    explicit PassThroughFileSystem(platform::FileSystem& inner = platform::DefaultFileSystem())
        : inner_(inner) {}

    std::optional<std::int64_t> FileLength(const std::string& path) override {
        return inner_.FileLength(path);
    }
    bool IsOrdinaryFile(const std::string& path) override { return inner_.IsOrdinaryFile(path); }
    bool DeleteFile(const std::string& path) override { return inner_.DeleteFile(path); }
    void CreateDirectory(const std::string& path) override { inner_.CreateDirectory(path); }
    bool IsSameFile(const std::string& first, const std::string& second) override {
        return inner_.IsSameFile(first, second);
    }
    bool IsLocked(const std::string& path) override { return inner_.IsLocked(path); }
    std::vector<std::string> ListFolder(const std::string& folder) override {
        return inner_.ListFolder(folder);
    }
    std::unique_ptr<platform::File> OpenExclusive(const std::string& path) override {
        return inner_.OpenExclusive(path);
    }
    std::unique_ptr<platform::File> OpenForReading(const std::string& path) override {
        return inner_.OpenForReading(path);
    }

  protected:
    platform::FileSystem& inner_;
};

}  // namespace tessel::testing
