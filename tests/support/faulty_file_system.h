// A FileSystem that hands every call to another one, except for the faults a test asks for on a
// named file: a length that cannot be read, an open that fails, a read that comes up short or
// fails, a write, flush, delete or replacement that fails. A join's new file carries the faults
// of the target it replaces. Real media produce these only by chance; here
// they happen on that file every time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/pass_through_file_system.h"

namespace tessel::testing {

class FaultyFileSystem final : public PassThroughFileSystem {
  public:
    struct Faults {
        bool failLength = false;
        bool failOpen = false;
        std::optional<std::int64_t> readLimit;  // reads stop here, as if the file ended
        bool failReads = false;
        bool failWrites = false;
        bool failFlush = false;
        bool failCommit = false;
        bool failDelete = false;
    };

    explicit FaultyFileSystem(platform::FileSystem& inner = platform::DefaultFileSystem());

    // FileLength of `path` reports nothing, as for a file that vanished; IsOrdinaryFile, which
    // counts pieces, still sees it.
    void FailLength(const std::string& path) { faults_[path].failLength = true; }
    // Both kinds of open of `path` fail, as for a file another program holds.
    void FailOpen(const std::string& path) { faults_[path].failOpen = true; }
    // Reads of `path` deliver no byte past offset `limit` and still report success, as a file
    // shorter than its length said.
    void LimitReads(const std::string& path, std::int64_t limit) {
        faults_[path].readLimit = limit;
    }
    // Reads of `path` report an error.
    void FailReads(const std::string& path) { faults_[path].failReads = true; }
    // Writes into `path` report an error, as on a full or broken medium.
    void FailWrites(const std::string& path) { faults_[path].failWrites = true; }
    void FailFlush(const std::string& path) { faults_[path].failFlush = true; }
    // The join's new file cannot take the name `path`.
    void FailCommit(const std::string& path) { faults_[path].failCommit = true; }
    void FailDelete(const std::string& path) { faults_[path].failDelete = true; }

    // Every path opened through this file system so far, in order.
    const std::vector<std::string>& OpenedPaths() const { return opened_; }
    // Files opened through this file system and not yet closed.
    int OpenFiles() const { return *openCount_; }

    std::optional<std::int64_t> FileLength(const std::string& path) override;
    bool DeleteFile(const std::string& path) override;
    std::unique_ptr<platform::File> OpenOrCreate(const std::string& path,
                                                 platform::Permissions permissions) override;
    std::unique_ptr<platform::File> CreateNew(const std::string& path,
                                              platform::Permissions permissions) override;
    std::unique_ptr<platform::File> OpenForReading(const std::string& path) override;
    std::unique_ptr<platform::File> HoldExclusive(const std::string& path) override;
    std::unique_ptr<platform::Replacement> CreateReplacement(
        const std::string& path, platform::Permissions permissions) override;

  private:
    Faults FaultsOf(const std::string& path) const;
    std::unique_ptr<platform::File> Wrap(const std::string& path,
                                         std::unique_ptr<platform::File> file);

    std::map<std::string, Faults> faults_;
    std::vector<std::string> opened_;
    std::shared_ptr<int> openCount_ = std::make_shared<int>(0);
};

}  // namespace tessel::testing
