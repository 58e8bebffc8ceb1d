// A FileSystem that hands every call to another one, except for the faults a test asks for on a
// named file: a query that cannot tell, an open that fails, a read that comes up short or
// fails, a write, flush, delete or replacement that fails. A join's new file carries the faults
// of the target it replaces. Real media produce these only by chance; here they happen on that
// file every time.
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
        bool failExamine = false;
        bool failOpen = false;
        std::optional<std::int64_t> readLimit;  // reads stop here, as if the file ended
        bool failReads = false;
        bool failWrites = false;
        bool failFlush = false;
        bool failCommit = false;
        bool failDelete = false;
    };

    explicit FaultyFileSystem(platform::FileSystem& inner = platform::DefaultFileSystem());

    // Every look at `path` (by name or once open) cannot tell what it is, as on a medium that
    // stopped answering or a file that vanished.
    void FailExamine(const std::string& path) { faults_[path].failExamine = true; }
    // Every kind of open of `path` fails, as for a file another program holds.
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

    Faults FaultsOf(const std::string& path) const;
    // `file`, opened as `path`, with the faults of that path.
    std::unique_ptr<platform::File> Wrap(const std::string& path,
                                         std::unique_ptr<platform::File> file);
    std::unique_ptr<platform::Replacement> WrapReplacement(
        const std::string& path, std::unique_ptr<platform::Replacement> file);

    platform::EntryInfo Examine(const std::string& path, platform::Follow follow) override;
    std::unique_ptr<platform::File> OpenForReading(const std::string& path,
                                                   bool exclusive) override;

  protected:
    std::unique_ptr<platform::Folder> WrapFolder(const std::string& path,
                                                 std::unique_ptr<platform::Folder> inner) override;

  private:
    std::map<std::string, Faults> faults_;
    std::vector<std::string> opened_;
    std::shared_ptr<int> openCount_ = std::make_shared<int>(0);
};

}  // namespace tessel::testing
