#include "tests/support/faulty_file_system.h"

#include <algorithm>
#include <utility>

namespace tessel::testing {
namespace {

using platform::File;

// The faults of one path, applied to the calls of an open file. It remembers how far it has
// been read so that a read limit holds however the reader slices its reads.
class FaultGate {
  public:
    FaultGate(FaultyFileSystem::Faults faults, std::shared_ptr<int> openCount)
        : faults_(faults), openCount_(std::move(openCount)) {
        ++*openCount_;
    }
    ~FaultGate() { --*openCount_; }
    FaultGate(const FaultGate&) = delete;
    FaultGate& operator=(const FaultGate&) = delete;

    std::optional<std::size_t> Read(File& inner, std::span<std::byte> into) {
        if (faults_.failReads) return std::nullopt;
        if (faults_.readLimit) {
            const auto left = std::max<std::int64_t>(*faults_.readLimit - read_, 0);
            into = into.first(std::min<std::size_t>(into.size(), static_cast<std::size_t>(left)));
            if (into.empty()) return 0;
        }
        const auto got = inner.Read(into);
        if (got) read_ += static_cast<std::int64_t>(*got);
        return got;
    }
    bool Write(File& inner, std::span<const std::byte> bytes) {
        return !faults_.failWrites && inner.Write(bytes);
    }
    bool Flush(File& inner) { return !faults_.failFlush && inner.Flush(); }
    bool failCommit() const { return faults_.failCommit; }

  private:
    FaultyFileSystem::Faults faults_;
    std::shared_ptr<int> openCount_;
    std::int64_t read_ = 0;
};

// An open file of either kind (a plain file, or a join's new file) whose calls pass its gate.
template <typename Kind>
class Faulty : public Kind {
  public:
    Faulty(std::unique_ptr<Kind> inner, FaultyFileSystem::Faults faults,
           std::shared_ptr<int> openCount)
        : inner_(std::move(inner)), gate_(faults, std::move(openCount)) {}

    std::optional<std::size_t> Read(std::span<std::byte> into) override {
        return gate_.Read(*inner_, into);
    }
    bool Write(std::span<const std::byte> bytes) override { return gate_.Write(*inner_, bytes); }
    bool Flush() override { return gate_.Flush(*inner_); }

  protected:
    std::unique_ptr<Kind> inner_;
    FaultGate gate_;
};

using FaultyFile = Faulty<File>;

class FaultyReplacement final : public Faulty<platform::Replacement> {
  public:
    using Faulty::Faulty;
    bool Commit() override { return !gate_.failCommit() && inner_->Commit(); }
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

std::unique_ptr<platform::File> FaultyFileSystem::OpenOrCreate(const std::string& path,
                                                               platform::Permissions permissions) {
    return Wrap(path, FaultsOf(path).failOpen ? nullptr : inner_.OpenOrCreate(path, permissions));
}

std::unique_ptr<platform::File> FaultyFileSystem::CreateNew(const std::string& path,
                                                            platform::Permissions permissions) {
    return Wrap(path, FaultsOf(path).failOpen ? nullptr : inner_.CreateNew(path, permissions));
}

std::unique_ptr<platform::File> FaultyFileSystem::OpenForReading(const std::string& path) {
    return Wrap(path, FaultsOf(path).failOpen ? nullptr : inner_.OpenForReading(path));
}

std::unique_ptr<platform::File> FaultyFileSystem::HoldExclusive(const std::string& path) {
    return Wrap(path, FaultsOf(path).failOpen ? nullptr : inner_.HoldExclusive(path));
}

std::unique_ptr<platform::Replacement> FaultyFileSystem::CreateReplacement(
    const std::string& path, platform::Permissions permissions) {
    opened_.push_back(path);
    auto replacement =
        FaultsOf(path).failOpen ? nullptr : inner_.CreateReplacement(path, permissions);
    if (replacement == nullptr) return nullptr;
    return std::make_unique<FaultyReplacement>(std::move(replacement), FaultsOf(path), openCount_);
}

std::unique_ptr<platform::File> FaultyFileSystem::Wrap(const std::string& path,
                                                       std::unique_ptr<platform::File> file) {
    opened_.push_back(path);
    if (file == nullptr) return nullptr;
    return std::make_unique<FaultyFile>(std::move(file), FaultsOf(path), openCount_);
}

}  // namespace tessel::testing
