// A library loaded with LD_PRELOAD into the program under a fault sweep. It counts the calls the
// program makes through the C library on files under one folder, and makes one chosen call fail
// or move fewer bytes than asked. The system-call sweep uses it for short reads and writes (a
// tracer can only fail a call or fake its result, never shorten it), and for every fault where
// the system does not let one process trace another.
//
// Environment:
//   TESSEL_FAULT_ROOT=/folder   calls on files under this folder (named by path, by a folder
//                               descriptor with a relative path, or by an open descriptor)
//                               are counted, per function, from 1; no other call is touched
//   TESSEL_FAULT_LOG=/file      each counted call is appended as "FUNCTION N BYTES TARGET",
//                               the one acted on with " INJECTED" after it
//   TESSEL_FAULT=FUNCTION:N:ACTION
//                               the Nth counted call of FUNCTION: ACTION "short" moves half the
//                               bytes asked (a call asked for one byte is left alone); an errno
//                               name (EIO, ENOSPC, EACCES, ...) or number makes the call fail
//                               with it, doing nothing, except close, which releases the
//                               descriptor first as Linux does
// Calls glibc makes inside itself (stat through fstatat, opendir through openat) do not pass
// through here: the functions a program calls are counted, not the system calls behind them.
//
// Each thread counts its own calls: the calls of the thread started Kth (from 1, the program's
// first thread not counted) are named FUNCTION@K, those of the first thread FUNCTION alone.
// Threads started in the same order make their calls in the same order from one run to the
// next, while calls of two threads interleave as the scheduler has them.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace {

constexpr char kRootVariable[] = "TESSEL_FAULT_ROOT";
constexpr char kLogVariable[] = "TESSEL_FAULT_LOG";
constexpr char kFaultVariable[] = "TESSEL_FAULT";
constexpr char kShortAction[] = "short";
constexpr char kInjectedMark[] = " INJECTED";

struct NamedErrno {
    const char* name;
    int value;
};
constexpr NamedErrno kErrnos[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EACCES", EACCES},
                                  {"EPERM", EPERM},   {"EROFS", EROFS},   {"EDQUOT", EDQUOT},
                                  {"ENOENT", ENOENT}, {"EINTR", EINTR},   {"ENOMEM", ENOMEM}};

std::optional<int> ErrnoNamed(std::string_view text) {
    for (const auto& known : kErrnos)
        if (text == known.name) return known.value;
    if (!text.empty() &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::atoi(std::string(text).c_str());
    return std::nullopt;
}

// What the environment asks for, read once.
struct Settings {
    std::string root;
    std::string log;
    std::string function;  // the call to act on; empty when none
    long occurrence = 0;
    bool shorten = false;
    int error = 0;

    Settings() {
        if (const char* value = std::getenv(kRootVariable)) root = value;
        while (root.size() > 1 && root.back() == '/') root.pop_back();
        if (const char* value = std::getenv(kLogVariable)) log = value;
        if (const char* value = std::getenv(kFaultVariable)) Parse(value);
    }

    void Parse(std::string_view fault) {
        const auto first = fault.find(':');
        const auto second = fault.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos) return;
        const std::string number(fault.substr(first + 1, second - first - 1));
        const auto action = fault.substr(second + 1);
        occurrence = std::atol(number.c_str());
        shorten = action == kShortAction;
        error = shorten ? 0 : ErrnoNamed(action).value_or(0);
        if (occurrence > 0 && (shorten || error != 0)) function = fault.substr(0, first);
    }
};

const Settings& Config() {
    static const Settings settings;
    return settings;
}

// The shim's own reads of /proc and writes to its log go straight to the kernel, never through
// the functions it replaces.
std::string LinkTarget(const std::string& link) {
    char buffer[4096];
    const long length = ::syscall(SYS_readlinkat, AT_FDCWD, link.c_str(), buffer, sizeof buffer);
    if (length <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string DescriptorPath(int fd) {
    if (fd == AT_FDCWD) return LinkTarget("/proc/self/cwd");
    return LinkTarget("/proc/self/fd/" + std::to_string(fd));
}

bool UnderRoot(const std::string& path) {
    const std::string& root = Config().root;
    return !root.empty() && path.starts_with(root) &&
           (path.size() == root.size() || path[root.size()] == '/');
}

// The file a call names, as a full path, when it lies under the root; empty otherwise.
std::string OnFd(int fd) {
    if (fd < 0) return {};
    std::string path = DescriptorPath(fd);
    return UnderRoot(path) ? path : std::string{};
}

std::string OnPath(int folderFd, const char* path) {
    if (path == nullptr) return {};
    std::string full = path;
    if (full.empty()) return OnFd(folderFd);  // AT_EMPTY_PATH: the descriptor itself
    if (full.front() != '/') full = DescriptorPath(folderFd) + "/" + full;
    return UnderRoot(full) ? full : std::string{};
}

std::string OnPath(const char* path) {
    return OnPath(AT_FDCWD, path);
}

std::string Either(std::string first, std::string second) {
    return first.empty() ? second : first;
}

void Log(const std::string& line) {
    const std::string& log = Config().log;
    if (log.empty()) return;
    const long fd = ::syscall(SYS_openat, AT_FDCWD, log.c_str(),
                              O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    ::syscall(SYS_write, fd, line.data(), line.size());
    ::syscall(SYS_close, fd);
}

enum class Action { Pass, Fail, Shorten };

// The place of the calling thread among the threads started, from 1; 0 for the first thread.
thread_local long threadOrdinal = 0;
std::atomic<long> threadsStarted = 0;

// The name a call is counted under: the function's, and the thread's place where it is not the
// first thread.
std::string CountedName(const char* function) {
    if (threadOrdinal == 0) return function;
    return std::string(function) + "@" + std::to_string(threadOrdinal);
}

// Counts one call on `target` (nothing when it is not under the root) and says what to do.
Action Decide(const char* function, const std::string& target, std::size_t bytes = 0) {
    if (target.empty()) return Action::Pass;
    static std::mutex mutex;
    static std::map<std::string, long> counts;
    const Settings& settings = Config();
    const std::string name = CountedName(function);
    long n = 0;
    {
        const std::lock_guard lock(mutex);
        n = ++counts[name];
    }
    const bool chosen = settings.function == name && settings.occurrence == n;
    Action action = Action::Pass;
    if (chosen && settings.error != 0) action = Action::Fail;
    if (chosen && settings.shorten && bytes > 1) action = Action::Shorten;
    Log(name + " " + std::to_string(n) + " " + std::to_string(bytes) + " " + target +
        (action != Action::Pass ? kInjectedMark : "") + "\n");
    return action;
}

// What a thread started through pthread_create runs first: it takes its place, then runs.
struct Start {
    void* (*routine)(void*);
    void* argument;
    long ordinal;
};

// The starts are handed over in a ring rather than on the heap: a sanitizer's allocator may not
// serve a thread that has not started yet. A thread reads its start at once; the ring would
// have to go round before it does for its slot to be taken again.
constexpr long kStartSlots = 1024;
Start starts[kStartSlots];

void* StartCounted(void* start) {
    const Start taken = *static_cast<Start*>(start);
    threadOrdinal = taken.ordinal;
    return taken.routine(taken.argument);
}

// Decides with errno kept as the caller left it: readdir tells the end of a folder from an
// error only by errno staying unchanged.
Action DecideKeepingErrno(const char* function, const std::string& target, std::size_t bytes = 0) {
    const int saved = errno;
    const Action action = Decide(function, target, bytes);
    errno = saved;
    return action;
}

template <typename Result>
Result Failed() {
    errno = Config().error;
    if constexpr (std::is_pointer_v<Result>)
        return nullptr;
    else
        return static_cast<Result>(-1);
}

template <typename Function>
Function Real(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

std::size_t Shortened(std::size_t bytes) {
    return std::max<std::size_t>(1, bytes / 2);
}

}  // namespace

// A call that fails or goes through unchanged, counted when TARGET lies under the root.
#define TESSEL_COUNTED(name, target, ...)                    \
    static const auto real = Real<decltype(&::name)>(#name); \
    if (DecideKeepingErrno(#name, target) == Action::Fail)   \
        return Failed<decltype(real(__VA_ARGS__))>();        \
    return real(__VA_ARGS__)

// A call that moves bytes: it may also be cut short.
#define TESSEL_MOVING(name, target, bytes, ...)              \
    static const auto real = Real<decltype(&::name)>(#name); \
    switch (DecideKeepingErrno(#name, target, bytes)) {      \
        case Action::Fail:                                   \
            return Failed<decltype(real(__VA_ARGS__))>();    \
        case Action::Shorten:                                \
            bytes = Shortened(bytes);                        \
            break;                                           \
        case Action::Pass:                                   \
            break;                                           \
    }                                                        \
    return real(__VA_ARGS__)

// open and openat take their mode only with O_CREAT or O_TMPFILE.
#define TESSEL_MODE_ARGUMENT(flags, mode)                             \
    mode_t mode = 0;                                                  \
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) { \
        va_list arguments;                                            \
        va_start(arguments, flags);                                   \
        mode = static_cast<mode_t>(va_arg(arguments, int));           \
        va_end(arguments);                                            \
    }

extern "C" {

// Every thread the program starts is numbered in the order it was started.
int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                   void* argument) {
    static const auto real = Real<decltype(&::pthread_create)>("pthread_create");
    const long ordinal = ++threadsStarted;
    Start& start = starts[ordinal % kStartSlots];
    start = {routine, argument, ordinal};
    return real(thread, attributes, StartCounted, &start);
}

int open(const char* path, int flags, ...) {
    TESSEL_MODE_ARGUMENT(flags, mode)
    TESSEL_COUNTED(open, OnPath(path), path, flags, mode);
}
int open64(const char* path, int flags, ...) {
    TESSEL_MODE_ARGUMENT(flags, mode)
    TESSEL_COUNTED(open64, OnPath(path), path, flags, mode);
}
int openat(int folder, const char* path, int flags, ...) {
    TESSEL_MODE_ARGUMENT(flags, mode)
    TESSEL_COUNTED(openat, OnPath(folder, path), folder, path, flags, mode);
}
int openat64(int folder, const char* path, int flags, ...) {
    TESSEL_MODE_ARGUMENT(flags, mode)
    TESSEL_COUNTED(openat64, OnPath(folder, path), folder, path, flags, mode);
}

int close(int fd) {
    static const auto real = Real<decltype(&::close)>("close");
    if (DecideKeepingErrno("close", OnFd(fd)) == Action::Fail) {
        real(fd);
        return Failed<int>();
    }
    return real(fd);
}

ssize_t read(int fd, void* into, size_t bytes) {
    TESSEL_MOVING(read, OnFd(fd), bytes, fd, into, bytes);
}
ssize_t __read_chk(int fd, void* into, size_t bytes, size_t room) {
    TESSEL_MOVING(__read_chk, OnFd(fd), bytes, fd, into, bytes, room);
}
ssize_t write(int fd, const void* from, size_t bytes) {
    TESSEL_MOVING(write, OnFd(fd), bytes, fd, from, bytes);
}
ssize_t pread(int fd, void* into, size_t bytes, off_t at) {
    TESSEL_MOVING(pread, OnFd(fd), bytes, fd, into, bytes, at);
}
ssize_t pread64(int fd, void* into, size_t bytes, off64_t at) {
    TESSEL_MOVING(pread64, OnFd(fd), bytes, fd, into, bytes, at);
}
ssize_t pwrite(int fd, const void* from, size_t bytes, off_t at) {
    TESSEL_MOVING(pwrite, OnFd(fd), bytes, fd, from, bytes, at);
}
ssize_t pwrite64(int fd, const void* from, size_t bytes, off64_t at) {
    TESSEL_MOVING(pwrite64, OnFd(fd), bytes, fd, from, bytes, at);
}
ssize_t copy_file_range(int from, off64_t* fromAt, int to, off64_t* toAt, size_t bytes,
                        unsigned int flags) {
    TESSEL_MOVING(copy_file_range, Either(OnFd(to), OnFd(from)), bytes, from, fromAt, to, toAt,
                  bytes, flags);
}

int fsync(int fd) {
    TESSEL_COUNTED(fsync, OnFd(fd), fd);
}
int fdatasync(int fd) {
    TESSEL_COUNTED(fdatasync, OnFd(fd), fd);
}
int sync_file_range(int fd, off64_t at, off64_t bytes, unsigned int flags) {
    TESSEL_COUNTED(sync_file_range, OnFd(fd), fd, at, bytes, flags);
}
int ftruncate(int fd, off_t length) noexcept {
    TESSEL_COUNTED(ftruncate, OnFd(fd), fd, length);
}
int ftruncate64(int fd, off64_t length) noexcept {
    TESSEL_COUNTED(ftruncate64, OnFd(fd), fd, length);
}
int truncate(const char* path, off_t length) noexcept {
    TESSEL_COUNTED(truncate, OnPath(path), path, length);
}
int fallocate(int fd, int mode, off_t at, off_t bytes) {
    TESSEL_COUNTED(fallocate, OnFd(fd), fd, mode, at, bytes);
}
off_t lseek(int fd, off_t at, int whence) noexcept {
    TESSEL_COUNTED(lseek, OnFd(fd), fd, at, whence);
}
int flock(int fd, int operation) noexcept {
    TESSEL_COUNTED(flock, OnFd(fd), fd, operation);
}

int stat(const char* path, struct stat* into) noexcept {
    TESSEL_COUNTED(stat, OnPath(path), path, into);
}
int lstat(const char* path, struct stat* into) noexcept {
    TESSEL_COUNTED(lstat, OnPath(path), path, into);
}
int fstat(int fd, struct stat* into) noexcept {
    TESSEL_COUNTED(fstat, OnFd(fd), fd, into);
}
int fstatat(int folder, const char* path, struct stat* into, int flags) noexcept {
    TESSEL_COUNTED(fstatat, OnPath(folder, path), folder, path, into, flags);
}
int stat64(const char* path, struct stat64* into) noexcept {
    TESSEL_COUNTED(stat64, OnPath(path), path, into);
}
int lstat64(const char* path, struct stat64* into) noexcept {
    TESSEL_COUNTED(lstat64, OnPath(path), path, into);
}
int fstat64(int fd, struct stat64* into) noexcept {
    TESSEL_COUNTED(fstat64, OnFd(fd), fd, into);
}
int fstatat64(int folder, const char* path, struct stat64* into, int flags) noexcept {
    TESSEL_COUNTED(fstatat64, OnPath(folder, path), folder, path, into, flags);
}
int statx(int folder, const char* path, int flags, unsigned int mask, struct statx* into) noexcept {
    TESSEL_COUNTED(statx, OnPath(folder, path), folder, path, flags, mask, into);
}
int statfs(const char* path, struct statfs* into) noexcept {
    TESSEL_COUNTED(statfs, OnPath(path), path, into);
}
int fstatfs(int fd, struct statfs* into) noexcept {
    TESSEL_COUNTED(fstatfs, OnFd(fd), fd, into);
}
long pathconf(const char* path, int name) noexcept {
    TESSEL_COUNTED(pathconf, OnPath(path), path, name);
}
long fpathconf(int fd, int name) noexcept {
    TESSEL_COUNTED(fpathconf, OnFd(fd), fd, name);
}

int chmod(const char* path, mode_t mode) noexcept {
    TESSEL_COUNTED(chmod, OnPath(path), path, mode);
}
int fchmod(int fd, mode_t mode) noexcept {
    TESSEL_COUNTED(fchmod, OnFd(fd), fd, mode);
}
int fchmodat(int folder, const char* path, mode_t mode, int flags) noexcept {
    TESSEL_COUNTED(fchmodat, OnPath(folder, path), folder, path, mode, flags);
}
int chown(const char* path, uid_t owner, gid_t group) noexcept {
    TESSEL_COUNTED(chown, OnPath(path), path, owner, group);
}
int lchown(const char* path, uid_t owner, gid_t group) noexcept {
    TESSEL_COUNTED(lchown, OnPath(path), path, owner, group);
}
int fchown(int fd, uid_t owner, gid_t group) noexcept {
    TESSEL_COUNTED(fchown, OnFd(fd), fd, owner, group);
}
int fchownat(int folder, const char* path, uid_t owner, gid_t group, int flags) noexcept {
    TESSEL_COUNTED(fchownat, OnPath(folder, path), folder, path, owner, group, flags);
}

int rename(const char* from, const char* to) noexcept {
    TESSEL_COUNTED(rename, Either(OnPath(to), OnPath(from)), from, to);
}
int renameat(int fromFolder, const char* from, int toFolder, const char* to) noexcept {
    TESSEL_COUNTED(renameat, Either(OnPath(toFolder, to), OnPath(fromFolder, from)), fromFolder,
                   from, toFolder, to);
}
int renameat2(int fromFolder, const char* from, int toFolder, const char* to,
              unsigned int flags) noexcept {
    TESSEL_COUNTED(renameat2, Either(OnPath(toFolder, to), OnPath(fromFolder, from)), fromFolder,
                   from, toFolder, to, flags);
}
int link(const char* from, const char* to) noexcept {
    TESSEL_COUNTED(link, Either(OnPath(to), OnPath(from)), from, to);
}
int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) noexcept {
    TESSEL_COUNTED(linkat, Either(OnPath(toFolder, to), OnPath(fromFolder, from)), fromFolder, from,
                   toFolder, to, flags);
}
int unlink(const char* path) noexcept {
    TESSEL_COUNTED(unlink, OnPath(path), path);
}
int unlinkat(int folder, const char* path, int flags) noexcept {
    TESSEL_COUNTED(unlinkat, OnPath(folder, path), folder, path, flags);
}
int mkdir(const char* path, mode_t mode) noexcept {
    TESSEL_COUNTED(mkdir, OnPath(path), path, mode);
}
int mkdirat(int folder, const char* path, mode_t mode) noexcept {
    TESSEL_COUNTED(mkdirat, OnPath(folder, path), folder, path, mode);
}

DIR* opendir(const char* path) {
    TESSEL_COUNTED(opendir, OnPath(path), path);
}
DIR* fdopendir(int fd) {
    TESSEL_COUNTED(fdopendir, OnFd(fd), fd);
}
struct dirent* readdir(DIR* folder) {
    TESSEL_COUNTED(readdir, OnFd(::dirfd(folder)), folder);
}
struct dirent64* readdir64(DIR* folder) {
    TESSEL_COUNTED(readdir64, OnFd(::dirfd(folder)), folder);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) noexcept {
    TESSEL_COUNTED(fsetxattr, OnFd(fd), fd, name, value, size, flags);
}
ssize_t fgetxattr(int fd, const char* name, void* value, size_t size) noexcept {
    TESSEL_COUNTED(fgetxattr, OnFd(fd), fd, name, value, size);
}
ssize_t flistxattr(int fd, char* names, size_t size) noexcept {
    TESSEL_COUNTED(flistxattr, OnFd(fd), fd, names, size);
}
int fremovexattr(int fd, const char* name) noexcept {
    TESSEL_COUNTED(fremovexattr, OnFd(fd), fd, name);
}
int setxattr(const char* path, const char* name, const void* value, size_t size,
             int flags) noexcept {
    TESSEL_COUNTED(setxattr, OnPath(path), path, name, value, size, flags);
}
ssize_t getxattr(const char* path, const char* name, void* value, size_t size) noexcept {
    TESSEL_COUNTED(getxattr, OnPath(path), path, name, value, size);
}
ssize_t listxattr(const char* path, char* names, size_t size) noexcept {
    TESSEL_COUNTED(listxattr, OnPath(path), path, names, size);
}
ssize_t llistxattr(const char* path, char* names, size_t size) noexcept {
    TESSEL_COUNTED(llistxattr, OnPath(path), path, names, size);
}

}  // extern "C"
