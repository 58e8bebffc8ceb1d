#include "tests/support/faulty_file_system.h"

#include <algorithm>
#include <utility>

namespace tessel::testing {
namespace {

using platform::EntryInfo;
using platform::File;
using platform::Follow;

// The faults of one path, applied to the calls of an open file. It remembers how far it has
// been read so that a read limit holds however the reader slices its reads.
template <typename Kind>
class Faulty : public ForwardingFile<Kind> {
  public:
    Faulty(std::unique_ptr<Kind> inner, FaultyFileSystem::Faults faults,
           std::shared_ptr<int> openCount)
        : ForwardingFile<Kind>(std::move(inner)),
          faults_(faults),
          openCount_(std::move(openCount)) {
        ++*openCount_;
    }
    ~Faulty() override { --*openCount_; }

    std::optional<std::size_t> Read(std::span<std::byte> into) override {
        if (faults_.failReads) return std::nullopt;
        if (faults_.readLimit) {
            const auto left = std::max<std::int64_t>(*faults_.readLimit - read_, 0);
            into = into.first(std::min<std::size_t>(into.size(), static_cast<std::size_t>(left)));
            if (into.empty()) return 0;
        }
        const auto got = this->inner_->Read(into);
        if (got) read_ += static_cast<std::int64_t>(*got);
        return got;
    }
    bool Write(std::span<const std::byte> bytes) override {
        return !faults_.failWrites && this->inner_->Write(bytes);
    }
    bool Flush() override { return !faults_.failFlush && this->inner_->Flush(); }
    EntryInfo Info() override { return faults_.failExamine ? EntryInfo{} : this->inner_->Info(); }
    // The kernel copy passes no bytes through Read and Write: with a fault on either side the
    // copy goes through them instead.
    platform::KernelCopy CopyInKernelFrom(File& source, std::int64_t count) override {
        if (faults_.failWrites || faults_.readLimit || faults_.failReads) return {};
        if (auto* faulty = dynamic_cast<Faulty<File>*>(&source); faulty && faulty->Disturbed())
            return {};
        return ForwardingFile<Kind>::CopyInKernelFrom(source, count);
    }

    bool Disturbed() const { return faults_.failReads || faults_.readLimit.has_value(); }

  protected:
    FaultyFileSystem::Faults faults_;

  private:
    std::shared_ptr<int> openCount_;
    std::int64_t read_ = 0;
};

class FaultyReplacement final : public Faulty<platform::Replacement> {
  public:
    using Faulty::Faulty;
    bool Commit() override { return !faults_.failCommit && inner_->Commit(); }
};

// A folder whose names carry the faults of their full paths.
class FaultyFolder final : public PassThroughFolder {
  public:
    FaultyFolder(FaultyFileSystem& owner, std::string path, std::unique_ptr<platform::Folder> inner)
        : PassThroughFolder(std::move(path), std::move(inner)), owner_(owner) {}

    EntryInfo Examine(const std::string& name, Follow follow) override {
        if (owner_.FaultsOf(PathOf(name)).failExamine) return EntryInfo{};
        return inner_->Examine(name, follow);
    }
    bool Remove(const std::string& name) override {
        return !owner_.FaultsOf(PathOf(name)).failDelete && inner_->Remove(name);
    }
    std::unique_ptr<File> OpenOrCreate(const std::string& name,
                                       platform::Permissions permissions) override {
        return Open(name, [&] { return inner_->OpenOrCreate(name, permissions); });
    }
    std::unique_ptr<File> CreateNew(const std::string& name,
                                    platform::Permissions permissions) override {
        return Open(name, [&] { return inner_->CreateNew(name, permissions); });
    }
    std::unique_ptr<File> OpenForReading(const std::string& name, Follow follow) override {
        return Open(name, [&] { return inner_->OpenForReading(name, follow); });
    }
    std::unique_ptr<File> HoldExclusive(const std::string& name) override {
        return Open(name, [&] { return inner_->HoldExclusive(name); });
    }
    std::unique_ptr<platform::Replacement> CreateReplacement(
        const std::string& name, platform::Permissions permissions) override {
        const std::string path = PathOf(name);
        return owner_.WrapReplacement(path, owner_.FaultsOf(path).failOpen
                                                ? nullptr
                                                : inner_->CreateReplacement(name, permissions));
    }

  private:
    template <typename Opening>
    std::unique_ptr<File> Open(const std::string& name, Opening open) {
        const std::string path = PathOf(name);
        return owner_.Wrap(path, owner_.FaultsOf(path).failOpen ? nullptr : open());
    }

    FaultyFileSystem& owner_;
};

}  // namespace

FaultyFileSystem::FaultyFileSystem(platform::FileSystem& inner) : PassThroughFileSystem(inner) {}

FaultyFileSystem::Faults FaultyFileSystem::FaultsOf(const std::string& path) const {
    const auto found = faults_.find(path);
    return found == faults_.end() ? Faults{} : found->second;
}

EntryInfo FaultyFileSystem::Examine(const std::string& path, Follow follow) {
    if (FaultsOf(path).failExamine) return EntryInfo{};
    return inner_.Examine(path, follow);
}

std::unique_ptr<File> FaultyFileSystem::OpenForReading(const std::string& path, bool exclusive) {
    return Wrap(path, FaultsOf(path).failOpen ? nullptr : inner_.OpenForReading(path, exclusive));
}

std::unique_ptr<platform::Folder> FaultyFileSystem::WrapFolder(
    const std::string& path, std::unique_ptr<platform::Folder> inner) {
    return std::make_unique<FaultyFolder>(*this, path, std::move(inner));
}

std::unique_ptr<File> FaultyFileSystem::Wrap(const std::string& path, std::unique_ptr<File> file) {
    opened_.push_back(path);
    if (file == nullptr) return nullptr;
    return std::make_unique<Faulty<File>>(std::move(file), FaultsOf(path), openCount_);
}

std::unique_ptr<platform::Replacement> FaultyFileSystem::WrapReplacement(
    const std::string& path, std::unique_ptr<platform::Replacement> file) {
    opened_.push_back(path);
    if (file == nullptr) return nullptr;
    return std::make_unique<FaultyReplacement>(std::move(file), FaultsOf(path), openCount_);
}

}  // namespace tessel::testing
