#include "tests/support/faulty_file_system.h"

#include <algorithm>
#include <utility>

namespace tessel::testing {
namespace {

using platform::CopyResult;
using platform::File;

// An open file whose reads and writes obey the faults of its path. It remembers how far it has
// been read so that a read limit holds however the reader slices its copies.
class FaultyFile final : public File {
  public:
    FaultyFile(std::unique_ptr<File> inner, FaultyFileSystem::Faults faults,
               std::shared_ptr<int> openCount)
        : inner_(std::move(inner)), faults_(faults), openCount_(std::move(openCount)) {
        ++*openCount_;
    }
    ~FaultyFile() override { --*openCount_; }

    CopyResult CopyFrom(File& source, std::int64_t count, std::span<std::byte> buffer) override {
        auto* faultySource = dynamic_cast<FaultyFile*>(&source);
        if (faultySource == nullptr) return inner_->CopyFrom(source, count, buffer);
        if (faults_.failWrites) return {CopyResult::Status::WriteFailed, 0};
        return faultySource->CopyInto(*inner_, count, buffer);
    }

    bool Write(std::span<const std::byte> bytes) override {
        return !faults_.failWrites && inner_->Write(bytes);
    }
    bool Flush() override { return !faults_.failFlush && inner_->Flush(); }
    bool SetLength(std::int64_t length) override {
        return !faults_.failSetLength && inner_->SetLength(length);
    }

  private:
    // Copies up to `count` of this file's bytes into `destination`, as its faults allow.
    CopyResult CopyInto(File& destination, std::int64_t count, std::span<std::byte> buffer) {
        if (faults_.failReads) return {CopyResult::Status::ReadFailed, 0};
        if (faults_.readLimit)
            count = std::clamp<std::int64_t>(*faults_.readLimit - read_, 0, count);
        const CopyResult result = destination.CopyFrom(*inner_, count, buffer);
        read_ += result.copied;
        return result;
    }

    std::unique_ptr<File> inner_;
    FaultyFileSystem::Faults faults_;
    std::shared_ptr<int> openCount_;
    std::int64_t read_ = 0;
};

}  // namespace

FaultyFileSystem::FaultyFileSystem(platform::FileSystem& inner) : PassThroughFileSystem(inner) {}

FaultyFileSystem::Faults FaultyFileSystem::FaultsOf(const std::string& path) const {
    const auto found = faults_.find(path);
    return found == faults_.end() ? Faults{} : found->second;
}

std::optional<std::int64_t> FaultyFileSystem::FileLength(const std::string& path) {
    if (FaultsOf(path).failLength) return std::nullopt;
    return inner_.FileLength(path);
}

bool FaultyFileSystem::DeleteFile(const std::string& path) {
    return !FaultsOf(path).failDelete && inner_.DeleteFile(path);
}

std::unique_ptr<platform::File> FaultyFileSystem::OpenExclusive(const std::string& path) {
    return Wrap(path, FaultsOf(path).failOpen ? nullptr : inner_.OpenExclusive(path));
}

std::unique_ptr<platform::File> FaultyFileSystem::OpenForReading(const std::string& path) {
    return Wrap(path, FaultsOf(path).failOpen ? nullptr : inner_.OpenForReading(path));
}

std::unique_ptr<platform::File> FaultyFileSystem::Wrap(const std::string& path,
                                                       std::unique_ptr<platform::File> file) {
    opened_.push_back(path);
    if (file == nullptr) return nullptr;
    return std::make_unique<FaultyFile>(std::move(file), FaultsOf(path), openCount_);
}

}  // namespace tessel::testing
