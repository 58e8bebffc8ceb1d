// Measures ways of streaming one file into pieces and pieces back into one file, to choose how
// the split and the join should copy: read()/write() through buffers of several sizes, or
// copy_file_range(), which moves the bytes inside the kernel without a user buffer.
//
// Usage: copy_experiment INPUT WORKDIR CHUNK [RUNS]
// Cuts INPUT into pieces of CHUNK bytes inside WORKDIR (each piece written, flushed and closed
// before the next, as the split does), then joins those pieces into one file (flushed after
// each piece, as the join does). The last method flushes only at the end, as GNU split or cat
// followed by sync do: it shows what flushing piece by piece costs. After one untimed warm-up run,
// every way is timed RUNS times (default 3), and the best and median times are printed. Files are
// removed between runs. POSIX and the standard library only.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = 1024 * kKiB;
constexpr int kDefaultRuns = 3;

// Owns a descriptor; closes it on every way out.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "copy_experiment: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
}

// When the copied bytes are forced onto the medium.
enum class Flushing {
    PieceFsync,      // fsync() each piece (the join: its target) before the next piece starts
    PieceFdatasync,  // the same with fdatasync(), which may skip metadata a read does not need
    EarlyWriteback,  // start writeback of every buffer as it is written, fsync() each piece
    AllAtEnd,        // reference only: write everything, then fsync() every file, as
                     // "split; sync pieces" or "cat > target; sync target" do
};

// One way of copying: `bufferSize` > 0 streams through a buffer of that size with read() and
// write(); 0 uses copy_file_range().
struct Method {
    const char* name;
    std::int64_t bufferSize;
    Flushing flushing = Flushing::PieceFsync;
};

constexpr Method kMethods[] = {
    {"read/write 64 KiB", 64 * kKiB},
    {"read/write 256 KiB", 256 * kKiB},
    {"read/write 1 MiB", 1 * kMiB},
    {"read/write 4 MiB", 4 * kMiB},
    {"read/write 16 MiB", 16 * kMiB},
    {"copy_file_range", 0},
    {"1 MiB, fdatasync", 1 * kMiB, Flushing::PieceFdatasync},
    {"1 MiB, early wb", 1 * kMiB, Flushing::EarlyWriteback},
    {"1 MiB, sync at end", 1 * kMiB, Flushing::AllAtEnd},
};

void WriteAll(int fd, const char* from, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, from, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) Fail("write");
        from += put;
        size -= static_cast<std::size_t>(put);
    }
}

// Asks the kernel to start writing the `size` bytes just written to `fd` now, without waiting,
// so that the piece's closing fsync() finds most of them on the medium already.
void StartWriteback(int fd, std::size_t size) {
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    const auto length = static_cast<off_t>(size);
    if (::sync_file_range(fd, end - length, length, SYNC_FILE_RANGE_WRITE) != 0)
        Fail("sync_file_range");
}

// Copies up to `count` bytes from `from` to `to` at their current positions; returns how many
// were copied (fewer only when the source ended).
std::int64_t CopyThroughBuffer(const Method& method, int from, int to, std::int64_t count,
                               std::vector<char>& buffer) {
    std::int64_t done = 0;
    while (done < count) {
        const auto want =
            static_cast<std::size_t>(std::min<std::int64_t>(count - done, std::ssize(buffer)));
        const ssize_t got = ::read(from, buffer.data(), want);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Fail("read");
        if (got == 0) break;
        WriteAll(to, buffer.data(), static_cast<std::size_t>(got));
        if (method.flushing == Flushing::EarlyWriteback)
            StartWriteback(to, static_cast<std::size_t>(got));
        done += got;
    }
    return done;
}

std::int64_t CopyInKernel(int from, int to, std::int64_t count) {
    std::int64_t done = 0;
    while (done < count) {
        const auto want = static_cast<std::size_t>(count - done);
        const ssize_t got = ::copy_file_range(from, nullptr, to, nullptr, want, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Fail("copy_file_range");
        if (got == 0) break;
        done += got;
    }
    return done;
}

std::int64_t Copy(const Method& method, int from, int to, std::int64_t count,
                  std::vector<char>& buffer) {
    if (method.bufferSize == 0) return CopyInKernel(from, to, count);
    return CopyThroughBuffer(method, from, to, count, buffer);
}

// Both return a descriptor for the caller to wrap in an Fd; a failure ends the experiment.
int OpenForWriting(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) Fail("open " + path);
    return fd;
}

int OpenForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("open " + path);
    return fd;
}

std::string PiecePath(const std::string& workDir, std::int64_t n) {
    return workDir + "/piece." + std::to_string(n);
}

void Flush(int fd) {
    if (::fsync(fd) != 0) Fail("fsync");
}

// The flush that ends each piece, if the method makes one there.
void FlushPiece(const Method& method, int fd) {
    if (method.flushing == Flushing::AllAtEnd) return;
    if (method.flushing == Flushing::PieceFdatasync) {
        if (::fdatasync(fd) != 0) Fail("fdatasync");
        return;
    }
    Flush(fd);
}

// For the reference method: puts pieces 1 to `pieces` on the medium after all were written.
void FlushAllAtEnd(const Method& method, const std::string& workDir, std::int64_t pieces) {
    if (method.flushing != Flushing::AllAtEnd) return;
    for (std::int64_t n = 1; n <= pieces; ++n)
        Flush(Fd(OpenForReading(PiecePath(workDir, n))).get());
}

std::int64_t LengthOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) Fail("stat " + path);
    return static_cast<std::int64_t>(info.st_size);
}

// Writes the pieces 1, 2, ... of `input`, one after another; returns how many there are.
std::int64_t SplitInto(const Method& method, const std::string& input, const std::string& workDir,
                       std::int64_t chunk, std::vector<char>& buffer) {
    const Fd source(OpenForReading(input));
    const std::int64_t size = LengthOf(input);
    const std::int64_t pieces = std::max<std::int64_t>(1, (size + chunk - 1) / chunk);
    for (std::int64_t n = 1; n <= pieces; ++n) {
        const Fd piece(OpenForWriting(PiecePath(workDir, n)));
        Copy(method, source.get(), piece.get(), chunk, buffer);
        FlushPiece(method, piece.get());
    }
    FlushAllAtEnd(method, workDir, pieces);
    return pieces;
}

void JoinInto(const Method& method, const std::string& target, const std::string& workDir,
              std::int64_t pieces, std::vector<char>& buffer) {
    const Fd joined(OpenForWriting(target));
    for (std::int64_t n = 1; n <= pieces; ++n) {
        const Fd piece(OpenForReading(PiecePath(workDir, n)));
        Copy(method, piece.get(), joined.get(), INT64_MAX, buffer);
        FlushPiece(method, joined.get());
    }
    if (method.flushing == Flushing::AllAtEnd) Flush(joined.get());
}

void RemovePieces(const std::string& workDir, std::int64_t pieces) {
    for (std::int64_t n = 1; n <= pieces; ++n) ::unlink(PiecePath(workDir, n).c_str());
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every time measured for one method, in seconds.
struct Timings {
    std::vector<double> split;
    std::vector<double> join;
};

// One split and one join with `method`; their files are removed afterwards, so every run
// writes new files.
void RunOnce(const Method& method, const std::string& input, const std::string& workDir,
             std::int64_t chunk, Timings& timings) {
    std::vector<char> buffer(
        static_cast<std::size_t>(std::max<std::int64_t>(method.bufferSize, 1)));
    const std::string target = workDir + "/joined";
    auto start = std::chrono::steady_clock::now();
    const std::int64_t pieces = SplitInto(method, input, workDir, chunk, buffer);
    timings.split.push_back(SecondsSince(start));
    start = std::chrono::steady_clock::now();
    JoinInto(method, target, workDir, pieces, buffer);
    timings.join.push_back(SecondsSince(start));
    RemovePieces(workDir, pieces);
    ::unlink(target.c_str());
}

double Best(std::vector<double> seconds) {
    return *std::min_element(seconds.begin(), seconds.end());
}

double Median(std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

void PrintRow(const char* name, const Timings& timings, std::int64_t bytes) {
    const double mib = static_cast<double>(bytes) / static_cast<double>(kMiB);
    const double split = Best(timings.split);
    const double join = Best(timings.join);
    std::printf("  %-20s %8.3f %8.3f %7.0f   %8.3f %8.3f %7.0f\n", name, split,
                Median(timings.split), mib / split, join, Median(timings.join), mib / join);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: copy_experiment INPUT WORKDIR CHUNK [RUNS]\n");
        return 2;
    }
    const std::string input = argv[1];
    const std::string workDir = argv[2];
    const std::int64_t chunk = std::strtoll(argv[3], nullptr, 10);
    const int runs = argc == 5 ? std::atoi(argv[4]) : kDefaultRuns;
    if (chunk <= 0 || runs <= 0) {
        std::fprintf(stderr, "copy_experiment: CHUNK and RUNS must be positive\n");
        return 2;
    }
    const std::int64_t bytes = LengthOf(input);
    std::printf("%s -> %s, chunk %lld bytes, %d runs\n", input.c_str(), workDir.c_str(),
                static_cast<long long>(chunk), runs);
    std::printf("  %-20s %8s %8s %7s   %8s %8s %7s\n", "method", "split s", "median", "MiB/s",
                "join s", "median", "MiB/s");
    // Methods take turns within each round, so a slow spell of a shared machine is spread over
    // all of them instead of falling on one.
    std::vector<Timings> timings(std::size(kMethods));
    Timings warmUp;  // the first run pays for cold caches and fresh memory: not counted
    RunOnce(kMethods[0], input, workDir, chunk, warmUp);
    for (int run = 0; run < runs; ++run)
        for (std::size_t m = 0; m < std::size(kMethods); ++m)
            RunOnce(kMethods[m], input, workDir, chunk, timings[m]);
    for (std::size_t m = 0; m < std::size(kMethods); ++m)
        PrintRow(kMethods[m].name, timings[m], bytes);
    return 0;
}
