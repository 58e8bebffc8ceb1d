// A FileSystem that shows a test every call the engine makes through it, by kind and full path,
// before the call is made: the test may act at that moment (delete a piece, pause, plant a link)
// and may have the call fail instead, in the way that kind of call fails. Every file and folder
// handed out is watched as well, so the calls on open files are seen too: the engine makes them
// from its hashing and flushing threads as well as from the thread that runs it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "tests/support/pass_through_file_system.h"

namespace tessel::testing {

enum class Call {
    // The file system, by path.
    Examine,
    OpenInput,
    CreateDirectory,
    OpenFolder,
    // A folder, by the full path of the name it is asked about ("." for the folder itself).
    ExamineName,
    List,
    Remove,
    NameMax,
    FreeBytes,
    IsLocked,
    MayRenameOver,
    OpenOrCreate,
    CreateNew,
    OpenForReading,
    HoldExclusive,
    CreateReplacement,
    // An open file, by the full path it was opened as.
    Read,
    Write,
    ReadAt,
    WriteAt,
    Flush,
    Info,
    Truncate,
    SetPermissions,
    KernelCopy,
    Commit,
};

// What a watched call does.
enum class Fault {
    None,   // its own work
    Fail,   // its failure: nothing opened, false, a query that cannot tell, an error
    Short,  // a read or a kernel copy that moves half what it was asked for (as the system may);
            // a write that writes half, then fails
};

const char* NameOf(Call call);

class InterceptingFileSystem : public PassThroughFileSystem {
  public:
    // Decides, for each call, what it does; may act meanwhile.
    using Interceptor = std::function<Fault(Call call, const std::string& path)>;

    // How the interceptor is called from the engine's threads: one call at a time, so that it
    // may keep what it sees without locks; or at once, for an interceptor that holds one thread
    // until another makes a call (it then guards what it keeps itself).
    enum class Calls { OneAtATime, AtOnce };

    explicit InterceptingFileSystem(Interceptor interceptor,
                                    platform::FileSystem& inner = platform::DefaultFileSystem(),
                                    Calls calls = Calls::OneAtATime);

    platform::EntryInfo Examine(const std::string& path, platform::Follow follow) override;
    std::unique_ptr<platform::File> OpenForReading(const std::string& path,
                                                   bool exclusive) override;
    void CreateDirectory(const std::string& path) override;
    std::unique_ptr<platform::Folder> OpenFolder(const std::string& path) override;

    // What the interceptor says of a call; used by the watched folders and files.
    Fault Intercept(Call call, const std::string& path) {
        if (calls_ == Calls::AtOnce) return interceptor_(call, path);
        const std::lock_guard lock(oneAtATime_);
        return interceptor_(call, path);
    }
    std::unique_ptr<platform::File> Watch(const std::string& path,
                                          std::unique_ptr<platform::File> file);
    std::unique_ptr<platform::Replacement> WatchReplacement(
        const std::string& path, std::unique_ptr<platform::Replacement> file);

  private:
    Interceptor interceptor_;
    Calls calls_;
    std::recursive_mutex oneAtATime_;  // an interceptor's action may call through here again
};

// Does what the test asks once, the first time the engine makes a call that `trigger` picks,
// before that call is made; every call goes on as it would.
class OneShotFileSystem final : public InterceptingFileSystem {
  public:
    using Trigger = std::function<bool(Call, const std::string&)>;

    OneShotFileSystem(Trigger trigger, std::function<void()> action)
        : InterceptingFileSystem([this](Call call, const std::string& path) {
              if (!fired_ && trigger_(call, path)) {
                  fired_ = true;
                  action_();
              }
              return Fault::None;
          }),
          trigger_(std::move(trigger)),
          action_(std::move(action)) {}

    bool fired() const { return fired_; }

  private:
    Trigger trigger_;
    std::function<void()> action_;
    bool fired_ = false;
};

}  // namespace tessel::testing
