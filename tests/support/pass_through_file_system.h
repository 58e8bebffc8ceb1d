// A FileSystem, Folder and File that forward every call to real ones; test doubles override the
// calls they disturb and nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/piece_naming.h"
#include "platform/file_system.h"

namespace tessel::testing {

// A file that stands in front of another one.
class Forwarding {
  public:
    virtual ~Forwarding() = default;
    virtual platform::File& Inner() = 0;
};

// The platform's own file behind any number of forwarding layers: the kernel copy needs the
// real file on both sides.
inline platform::File& Innermost(platform::File& file) {
    auto* forwarding = dynamic_cast<Forwarding*>(&file);
    return forwarding == nullptr ? file : Innermost(forwarding->Inner());
}

// A file of either kind (a plain file, or a join's new file) that forwards every call.
template <typename Kind>
class ForwardingFile : public Kind, public Forwarding {
  public:
    explicit ForwardingFile(std::unique_ptr<Kind> inner) : inner_(std::move(inner)) {}

    std::optional<std::size_t> Read(std::span<std::byte> into) override {
        return inner_->Read(into);
    }
    bool Write(std::span<const std::byte> bytes) override { return inner_->Write(bytes); }
    bool Flush() override { return inner_->Flush(); }
    platform::EntryInfo Info() override { return inner_->Info(); }
    bool Truncate(std::int64_t length) override { return inner_->Truncate(length); }
    bool SetPermissions(platform::Permissions permissions) override {
        return inner_->SetPermissions(permissions);
    }
    platform::KernelCopy CopyInKernelFrom(platform::File& source, std::int64_t count) override {
        return inner_->CopyInKernelFrom(Innermost(source), count);
    }
    platform::File& Inner() override { return *inner_; }

  protected:
    std::unique_ptr<Kind> inner_;
};

class ForwardingReplacement : public ForwardingFile<platform::Replacement> {
  public:
    using ForwardingFile::ForwardingFile;
    bool Commit() override { return inner_->Commit(); }
};

// A folder that forwards every call; it knows its path, so that doubles can name the files
// they disturb by their full paths.
class PassThroughFolder : public platform::Folder {
  public:
    PassThroughFolder(std::string path, std::unique_ptr<platform::Folder> inner)
        : path_(std::move(path)), inner_(std::move(inner)) {}

    platform::EntryInfo Examine(const std::string& name, platform::Follow follow) override {
        return inner_->Examine(name, follow);
    }
    std::optional<std::vector<std::string>> List() override { return inner_->List(); }
    bool Remove(const std::string& name) override { return inner_->Remove(name); }
    std::optional<std::int64_t> NameMax() override { return inner_->NameMax(); }
    std::optional<std::int64_t> FreeBytes() override { return inner_->FreeBytes(); }
    bool IsLocked(const std::string& name) override { return inner_->IsLocked(name); }
    bool MayRenameOver(const std::string& name) override { return inner_->MayRenameOver(name); }
    std::unique_ptr<platform::File> OpenOrCreate(const std::string& name,
                                                 platform::Permissions permissions) override {
        return inner_->OpenOrCreate(name, permissions);
    }
    std::unique_ptr<platform::File> CreateNew(const std::string& name,
                                              platform::Permissions permissions) override {
        return inner_->CreateNew(name, permissions);
    }
    std::unique_ptr<platform::File> OpenForReading(const std::string& name,
                                                   platform::Follow follow) override {
        return inner_->OpenForReading(name, follow);
    }
    std::unique_ptr<platform::File> HoldExclusive(const std::string& name) override {
        return inner_->HoldExclusive(name);
    }
    std::unique_ptr<platform::Replacement> CreateReplacement(
        const std::string& name, platform::Permissions permissions) override {
        return inner_->CreateReplacement(name, permissions);
    }

  protected:
    std::string PathOf(const std::string& name) const { return JoinPath(path_, name); }

    std::string path_;
    std::unique_ptr<platform::Folder> inner_;
};

// A file system that forwards every call; a double that disturbs what happens inside folders
// hands out its own folders from WrapFolder.
class PassThroughFileSystem : public platform::FileSystem {
  public:
    explicit PassThroughFileSystem(platform::FileSystem& inner = platform::DefaultFileSystem())
        : inner_(inner) {}

    platform::EntryInfo Examine(const std::string& path, platform::Follow follow) override {
        return inner_.Examine(path, follow);
    }
    std::unique_ptr<platform::File> OpenForReading(const std::string& path,
                                                   bool exclusive) override {
        return inner_.OpenForReading(path, exclusive);
    }
    void CreateDirectory(const std::string& path) override { inner_.CreateDirectory(path); }
    std::unique_ptr<platform::Folder> OpenFolder(const std::string& path) override {
        auto folder = inner_.OpenFolder(path);
        return folder ? WrapFolder(path, std::move(folder)) : nullptr;
    }

  protected:
    virtual std::unique_ptr<platform::Folder> WrapFolder(const std::string& /*path*/,
                                                         std::unique_ptr<platform::Folder> inner) {
        return inner;
    }

    platform::FileSystem& inner_;
};

}  // namespace tessel::testing
