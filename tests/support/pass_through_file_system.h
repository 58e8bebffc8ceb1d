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
    platform::EntryKind KindOf(const std::string& path) override { return inner_.KindOf(path); }
    std::optional<platform::Permissions> PermissionsOf(const std::string& path) override {
        return inner_.PermissionsOf(path);
    }
    bool DeleteFile(const std::string& path) override { return inner_.DeleteFile(path); }
    void CreateDirectory(const std::string& path) override { inner_.CreateDirectory(path); }
    bool IsSameFile(const std::string& first, const std::string& second) override {
        return inner_.IsSameFile(first, second);
    }
    bool IsLocked(const std::string& path) override { return inner_.IsLocked(path); }
    std::optional<std::vector<std::string>> ListFolder(const std::string& folder) override {
        return inner_.ListFolder(folder);
    }
    std::unique_ptr<platform::File> OpenOrCreate(const std::string& path,
                                                 platform::Permissions permissions) override {
        return inner_.OpenOrCreate(path, permissions);
    }
    std::unique_ptr<platform::File> CreateNew(const std::string& path,
                                              platform::Permissions permissions) override {
        return inner_.CreateNew(path, permissions);
    }
    std::unique_ptr<platform::File> OpenForReading(const std::string& path) override {
        return inner_.OpenForReading(path);
    }
    std::unique_ptr<platform::File> HoldExclusive(const std::string& path) override {
        return inner_.HoldExclusive(path);
    }
    std::unique_ptr<platform::Replacement> CreateReplacement(
        const std::string& path, platform::Permissions permissions) override {
        return inner_.CreateReplacement(path, permissions);
    }

  protected:
    platform::FileSystem& inner_;
};

}  // namespace tessel::testing
