#include "tests/support/intercepting_file_system.h"

#include <iterator>
#include <utility>

namespace tessel::testing {
namespace {

using platform::EntryInfo;
using platform::File;
using platform::Follow;

template <typename Kind>
class WatchedFile : public ForwardingFile<Kind> {
  public:
    WatchedFile(InterceptingFileSystem& owner, std::string path, std::unique_ptr<Kind> inner)
        : ForwardingFile<Kind>(std::move(inner)), owner_(owner), path_(std::move(path)) {}

    std::optional<std::size_t> Read(std::span<std::byte> into) override {
        switch (Ask(Call::Read)) {
            case Fault::Fail:
                return std::nullopt;
            case Fault::Short:
                return this->inner_->Read(into.first((into.size() + 1) / 2));
            case Fault::None:
                break;
        }
        return this->inner_->Read(into);
    }
    bool Write(std::span<const std::byte> bytes) override {
        switch (Ask(Call::Write)) {
            case Fault::Fail:
                return false;
            case Fault::Short:
                this->inner_->Write(bytes.first(bytes.size() / 2));
                return false;
            case Fault::None:
                break;
        }
        return this->inner_->Write(bytes);
    }
    std::optional<std::size_t> ReadAt(std::span<std::byte> into, std::int64_t offset) override {
        switch (Ask(Call::ReadAt)) {
            case Fault::Fail:
                return std::nullopt;
            case Fault::Short:
                return this->inner_->ReadAt(into.first((into.size() + 1) / 2), offset);
            case Fault::None:
                break;
        }
        return this->inner_->ReadAt(into, offset);
    }
    bool WriteAt(std::span<const std::byte> bytes, std::int64_t offset) override {
        switch (Ask(Call::WriteAt)) {
            case Fault::Fail:
                return false;
            case Fault::Short:
                this->inner_->WriteAt(bytes.first(bytes.size() / 2), offset);
                return false;
            case Fault::None:
                break;
        }
        return this->inner_->WriteAt(bytes, offset);
    }
    bool Flush() override { return Ask(Call::Flush) == Fault::None && this->inner_->Flush(); }
    EntryInfo Info() override {
        return Ask(Call::Info) == Fault::None ? this->inner_->Info() : EntryInfo{};
    }
    bool Truncate(std::int64_t length) override {
        return Ask(Call::Truncate) == Fault::None && this->inner_->Truncate(length);
    }
    bool SetPermissions(platform::Permissions permissions) override {
        return Ask(Call::SetPermissions) == Fault::None &&
               this->inner_->SetPermissions(permissions);
    }
    platform::KernelCopy CopyInKernelFrom(File& source, std::int64_t count) override {
        switch (Ask(Call::KernelCopy)) {
            case Fault::Fail:
                return {platform::KernelCopy::Status::Failed, 0};
            case Fault::Short:
                return ForwardingFile<Kind>::CopyInKernelFrom(source, count / 2);
            case Fault::None:
                break;
        }
        return ForwardingFile<Kind>::CopyInKernelFrom(source, count);
    }

  protected:
    Fault Ask(Call call) { return owner_.Intercept(call, path_); }

  private:
    InterceptingFileSystem& owner_;
    std::string path_;
};

class WatchedReplacement final : public WatchedFile<platform::Replacement> {
  public:
    using WatchedFile::WatchedFile;
    bool Commit(platform::Ownership keep) override {
        return Ask(Call::Commit) == Fault::None && inner_->Commit(keep);
    }
};

class WatchedFolder final : public PassThroughFolder {
  public:
    WatchedFolder(InterceptingFileSystem& owner, std::string path,
                  std::unique_ptr<platform::Folder> inner)
        : PassThroughFolder(std::move(path), std::move(inner)), owner_(owner) {}

    EntryInfo Examine(const std::string& name, Follow follow) override {
        return Ask(Call::ExamineName, name) ? inner_->Examine(name, follow) : EntryInfo{};
    }
    std::optional<std::vector<std::string>> List() override {
        return Ask(Call::List, ".") ? inner_->List() : std::nullopt;
    }
    bool Remove(const std::string& name) override {
        return Ask(Call::Remove, name) && inner_->Remove(name);
    }
    std::optional<std::int64_t> NameMax() override {
        return Ask(Call::NameMax, ".") ? inner_->NameMax() : std::nullopt;
    }
    std::optional<std::int64_t> FreeBytes() override {
        return Ask(Call::FreeBytes, ".") ? inner_->FreeBytes() : std::nullopt;
    }
    bool IsLocked(const std::string& name) override {
        // A probe that cannot tell says "not locked", which only lets the caller try the open.
        return Ask(Call::IsLocked, name) && inner_->IsLocked(name);
    }
    bool MayRenameOver(const std::string& name) override {
        return Ask(Call::MayRenameOver, name) && inner_->MayRenameOver(name);
    }
    std::unique_ptr<File> OpenOrCreate(const std::string& name,
                                       platform::Permissions permissions) override {
        if (!Ask(Call::OpenOrCreate, name)) return nullptr;
        return owner_.Watch(PathOf(name), inner_->OpenOrCreate(name, permissions));
    }
    std::unique_ptr<File> CreateNew(const std::string& name,
                                    platform::Permissions permissions) override {
        if (!Ask(Call::CreateNew, name)) return nullptr;
        return owner_.Watch(PathOf(name), inner_->CreateNew(name, permissions));
    }
    std::unique_ptr<File> OpenForReading(const std::string& name, Follow follow) override {
        if (!Ask(Call::OpenForReading, name)) return nullptr;
        return owner_.Watch(PathOf(name), inner_->OpenForReading(name, follow));
    }
    std::unique_ptr<File> HoldExclusive(const std::string& name) override {
        if (!Ask(Call::HoldExclusive, name)) return nullptr;
        return owner_.Watch(PathOf(name), inner_->HoldExclusive(name));
    }
    std::unique_ptr<platform::Replacement> CreateReplacement(
        const std::string& name, platform::Permissions permissions) override {
        if (!Ask(Call::CreateReplacement, name)) return nullptr;
        return owner_.WatchReplacement(PathOf(name), inner_->CreateReplacement(name, permissions));
    }

  private:
    // Whether the call goes ahead: a folder's calls know no short form.
    bool Ask(Call call, const std::string& name) {
        return owner_.Intercept(call, name == "." ? path_ : PathOf(name)) == Fault::None;
    }

    InterceptingFileSystem& owner_;
};

}  // namespace

const char* NameOf(Call call) {
    static constexpr const char* kNames[] = {
        "Examine",     "OpenInput",      "CreateDirectory", "OpenFolder",
        "ExamineName", "List",           "Remove",          "NameMax",
        "FreeBytes",   "IsLocked",       "MayRenameOver",   "OpenOrCreate",
        "CreateNew",   "OpenForReading", "HoldExclusive",   "CreateReplacement",
        "Read",        "Write",          "ReadAt",          "WriteAt",
        "Flush",       "Info",           "Truncate",        "SetPermissions",
        "KernelCopy",  "Commit"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(Call::Commit) + 1);
    return kNames[static_cast<int>(call)];
}

InterceptingFileSystem::InterceptingFileSystem(Interceptor interceptor, platform::FileSystem& inner,
                                               Calls calls)
    : PassThroughFileSystem(inner), interceptor_(std::move(interceptor)), calls_(calls) {}

EntryInfo InterceptingFileSystem::Examine(const std::string& path, Follow follow) {
    return Intercept(Call::Examine, path) == Fault::None ? inner_.Examine(path, follow)
                                                         : EntryInfo{};
}

std::unique_ptr<File> InterceptingFileSystem::OpenForReading(const std::string& path,
                                                             bool exclusive) {
    if (Intercept(Call::OpenInput, path) != Fault::None) return nullptr;
    return Watch(path, inner_.OpenForReading(path, exclusive));
}

void InterceptingFileSystem::CreateDirectory(const std::string& path) {
    if (Intercept(Call::CreateDirectory, path) == Fault::None) inner_.CreateDirectory(path);
}

std::unique_ptr<platform::Folder> InterceptingFileSystem::OpenFolder(const std::string& path) {
    if (Intercept(Call::OpenFolder, path) != Fault::None) return nullptr;
    auto folder = inner_.OpenFolder(path);
    if (!folder) return nullptr;
    return std::make_unique<WatchedFolder>(*this, path, std::move(folder));
}

std::unique_ptr<File> InterceptingFileSystem::Watch(const std::string& path,
                                                    std::unique_ptr<File> file) {
    if (!file) return nullptr;
    return std::make_unique<WatchedFile<File>>(*this, path, std::move(file));
}

std::unique_ptr<platform::Replacement> InterceptingFileSystem::WatchReplacement(
    const std::string& path, std::unique_ptr<platform::Replacement> file) {
    if (!file) return nullptr;
    return std::make_unique<WatchedReplacement>(*this, path, std::move(file));
}

}  // namespace tessel::testing
