// JoinFiles over random folder listings, held in memory: the names a folder holds are text from
// the file system, and the join reads piece numbers out of them to refuse a run of pieces that
// stops at a gap. Checked against a plain model: the join rebuilds the target from pieces 1 to N
// exactly when pieces 1 to N exist and no piece of the same name numbered above N does (a
// piece's name being what PieceName writes: no sign, no leading zero); otherwise it fails and
// leaves the target as it was. No piece is ever changed, and progress never runs backwards or
// past the total.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/checksum.h"
#include "engine/join.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"
#include "engine/shared_settings.h"
#include "fuzz/fuzz_check.h"
#include "platform/file_system.h"

namespace {

using tessel::fuzz::Require;
using tessel::platform::EntryKind;

constexpr char kFolder[] = "/pieces";
constexpr char kSeparator = '/';
constexpr std::string_view kExtension = tessel::kDefaultPieceExtension;
constexpr std::size_t kMaxEntries = 12;
constexpr std::int64_t kLargestDrawnPiece = 8;
constexpr std::size_t kMaxNameLength = 24;
constexpr std::size_t kMaxContentLength = 16;

struct Entry {
    bool ordinary = true;  // false for a folder
    std::string bytes;
    bool operator==(const Entry&) const = default;
};
using Entries = std::map<std::string, Entry>;

using tessel::platform::EntryInfo;
using tessel::platform::Follow;
using tessel::platform::Permissions;

// A file's identity in the folder, told by its name.
std::uint64_t InodeOf(const std::string& name) {
    return std::hash<std::string>{}(name);
}

EntryInfo InfoOf(const std::string& name, const Entry& entry) {
    return EntryInfo{entry.ordinary ? EntryKind::RegularFile : EntryKind::Folder,
                     static_cast<std::int64_t>(entry.bytes.size()),
                     0644,
                     0,
                     0,
                     1,
                     InodeOf(name)};
}

// An open file in the in-memory folder; reads and writes at its own position.
class MemoryFile : public tessel::platform::File {
  public:
    MemoryFile(std::string& bytes, std::string name) : bytes_(bytes), name_(std::move(name)) {}

    std::optional<std::size_t> Read(std::span<std::byte> into) override {
        const auto available = std::min(into.size(), bytes_.size() - position_);
        std::copy_n(bytes_.data() + position_, available, reinterpret_cast<char*>(into.data()));
        position_ += available;
        return available;
    }
    bool Write(std::span<const std::byte> bytes) override {
        const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (position_ + data.size() > bytes_.size()) bytes_.resize(position_ + data.size());
        bytes_.replace(position_, data.size(), data);
        position_ += data.size();
        return true;
    }
    bool Flush() override { return true; }
    EntryInfo Info() override { return InfoOf(name_, Entry{true, bytes_}); }
    bool Truncate(std::int64_t length) override {
        bytes_.resize(static_cast<std::size_t>(length));
        return true;
    }
    bool SetPermissions(Permissions) override { return true; }

  private:
    std::string& bytes_;
    std::string name_;
    std::size_t position_ = 0;
};

// A join's new file: its own bytes until Commit gives it the target's name.
class MemoryReplacement final : public tessel::platform::Replacement {
  public:
    MemoryReplacement(Entries& folder, std::string name)
        : folder_(folder), name_(std::move(name)), file_(bytes_, " new " + name_) {}

    std::optional<std::size_t> Read(std::span<std::byte> into) override { return file_.Read(into); }
    bool Write(std::span<const std::byte> bytes) override { return file_.Write(bytes); }
    bool Flush() override { return true; }
    EntryInfo Info() override { return file_.Info(); }
    bool Truncate(std::int64_t length) override { return file_.Truncate(length); }
    bool SetPermissions(Permissions) override { return true; }
    bool Commit() override {
        folder_[name_] = Entry{true, bytes_};
        return true;
    }

  private:
    Entries& folder_;
    std::string name_;
    std::string bytes_;
    MemoryFile file_;
};

// The one folder of files and subfolders, all in memory.
class MemoryFolder final : public tessel::platform::Folder {
  public:
    explicit MemoryFolder(Entries& folder) : folder_(folder) {}

    EntryInfo Examine(const std::string& name, Follow) override {
        if (name == ".") return EntryInfo{EntryKind::Folder};
        const auto found = folder_.find(name);
        if (found == folder_.end()) return EntryInfo{EntryKind::Missing};
        return InfoOf(name, found->second);
    }
    std::optional<std::vector<std::string>> List() override {
        std::vector<std::string> names;
        for (const auto& [name, entry] : folder_) names.push_back(name);
        return names;
    }
    bool Remove(const std::string&) override {
        Require(false, "a join removes nothing");
        return false;
    }
    std::optional<std::int64_t> NameMax() override { return 255; }
    std::optional<std::int64_t> FreeBytes() override { return std::nullopt; }
    bool IsLocked(const std::string&) override { return false; }
    bool MayRenameOver(const std::string&) override { return true; }
    std::unique_ptr<tessel::platform::File> OpenOrCreate(const std::string&, Permissions) override {
        Require(false, "a join with room beside its target writes no file in place");
        return nullptr;
    }
    std::unique_ptr<tessel::platform::File> CreateNew(const std::string&, Permissions) override {
        Require(false, "a join creates no file under a name of its own");
        return nullptr;
    }
    std::unique_ptr<tessel::platform::File> OpenForReading(const std::string& name,
                                                           Follow) override {
        const auto found = folder_.find(name);
        if (found == folder_.end() || !found->second.ordinary) return nullptr;
        return std::make_unique<MemoryFile>(found->second.bytes, name);
    }
    std::unique_ptr<tessel::platform::File> HoldExclusive(const std::string& name) override {
        return OpenForReading(name, Follow::No);
    }
    std::unique_ptr<tessel::platform::Replacement> CreateReplacement(const std::string& name,
                                                                     Permissions) override {
        return std::make_unique<MemoryReplacement>(folder_, name);
    }

  private:
    Entries& folder_;
};

// A file system of that one folder; every other path names nothing.
class MemoryFileSystem final : public tessel::platform::FileSystem {
  public:
    explicit MemoryFileSystem(Entries& folder) : folder_(folder) {}

    EntryInfo Examine(const std::string& path, Follow) override {
        return EntryInfo{path == kFolder ? EntryKind::Folder : EntryKind::Missing};
    }
    std::unique_ptr<tessel::platform::File> OpenForReading(const std::string&, bool) override {
        Require(false, "a join opens its pieces in their folder");
        return nullptr;
    }
    void CreateDirectory(const std::string&) override {}
    std::unique_ptr<tessel::platform::Folder> OpenFolder(const std::string& path) override {
        if (path != kFolder) return nullptr;
        return std::make_unique<MemoryFolder>(folder_);
    }

  private:
    Entries& folder_;
};

// A file name as a folder can hold it: no separator, no NUL.
std::string AsFileName(std::string text) {
    std::replace(text.begin(), text.end(), kSeparator, '_');
    std::replace(text.begin(), text.end(), '\0', '_');
    return text;
}

// A name that looks like a piece of `base` but is not one, or is one with odd digits.
std::string NearPiece(FuzzedDataProvider& input, const std::string& base) {
    const auto n = input.ConsumeIntegralInRange<std::int64_t>(1, kLargestDrawnPiece);
    switch (input.ConsumeIntegralInRange(0, 4)) {
        case 0:
            return base + "." + input.ConsumeRandomLengthString(kMaxNameLength) +
                   std::string(kExtension);
        case 1:
            return base + ".0" + std::to_string(n) + std::string(kExtension);
        case 2:
            return tessel::PieceName(base, n, ".brk");
        case 3:
            return tessel::PieceName(base, n, kExtension) + input.ConsumeRandomLengthString(4);
        default:
            return input.ConsumeRandomLengthString(4) + tessel::PieceName(base, n, kExtension);
    }
}

Entries DrawFolder(FuzzedDataProvider& input, const std::string& base) {
    Entries folder;
    const auto entries = input.ConsumeIntegralInRange<std::size_t>(0, kMaxEntries);
    for (std::size_t i = 0; i < entries; ++i) {
        std::string name;
        switch (input.ConsumeIntegralInRange(0, 3)) {
            case 0:
            case 1:
                name = tessel::PieceName(
                    base, input.ConsumeIntegralInRange<std::int64_t>(1, kLargestDrawnPiece),
                    kExtension);
                break;
            case 2:
                name = NearPiece(input, base);
                break;
            default:
                name = input.ConsumeRandomLengthString(kMaxNameLength);
        }
        name = AsFileName(name);
        // The checksum file of the same name is another fuzz target's matter.
        if (name.empty() || name == "." || name == ".." || name == base ||
            name == base + tessel::kChecksumSuffix)
            continue;
        Entry entry;
        entry.ordinary = input.ConsumeIntegralInRange(0, 7) != 0;
        if (entry.ordinary) entry.bytes = input.ConsumeRandomLengthString(kMaxContentLength);
        folder.emplace(name, entry);
    }
    return folder;
}

// Whether `digits` are a piece number as PieceName writes it, and above `count`.
bool NumberAbove(std::string_view digits, std::int64_t count) {
    if (digits.empty() || digits.front() == '0' ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const std::string limit = std::to_string(count);
    return digits.size() != limit.size() ? digits.size() > limit.size() : digits > limit;
}

// Whether a piece of `base` numbered above `count` lies in the folder as an ordinary file.
bool PieceBeyond(const Entries& folder, const std::string& base, std::int64_t count) {
    const std::string head = base + ".";
    for (const auto& [name, entry] : folder) {
        if (!entry.ordinary || name.size() <= head.size() + kExtension.size()) continue;
        if (!name.starts_with(head) || !name.ends_with(kExtension)) continue;
        const std::string_view digits = std::string_view(name).substr(
            head.size(), name.size() - head.size() - kExtension.size());
        if (NumberAbove(digits, count)) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string base = AsFileName(input.ConsumeRandomLengthString(kMaxNameLength));
    if (base.empty() || base == "." || base == "..") return 0;  // the folder itself, not a file
    const std::string target = tessel::JoinPath(kFolder, base, kSeparator);
    Entries folder = DrawFolder(input, base);
    if (input.ConsumeBool()) folder[base].bytes = input.ConsumeRandomLengthString(64);
    const Entries before = folder;

    std::int64_t run = 0;
    std::string joined;
    for (auto found = folder.find(tessel::PieceName(base, 1, kExtension));
         found != folder.end() && found->second.ordinary;
         found = folder.find(tessel::PieceName(base, run + 1, kExtension))) {
        joined += found->second.bytes;
        ++run;
    }
    const bool shouldJoin = run > 0 && !PieceBeyond(folder, base, run);

    tessel::SharedSettings settings;
    tessel::SetStartupDefaults(settings);
    std::int64_t lastDone = 0;
    const auto progress = [&lastDone](std::int64_t done, std::int64_t total) {
        Require(done >= lastDone && done <= total,
                "progress never runs backwards or past the total");
        lastDone = done;
    };
    MemoryFileSystem files(folder);
    const bool result = tessel::JoinFiles(settings, target, {progress}, files);

    Require(result == shouldJoin, "the join succeeds exactly for a run of pieces without a gap");
    for (const auto& [name, entry] : before) {
        if (name == base) continue;
        Require(folder.at(name).bytes == entry.bytes, "no piece is changed");
    }
    if (shouldJoin) {
        Require(settings.StatusMessage == tessel::messages::kJoinSucceeded,
                "a join that succeeds says so");
        Require(folder.at(base).bytes == joined, "the target is the pieces in their order");
    } else {
        Require(settings.StatusMessage == tessel::messages::kJoinFailed,
                "a refused join says so in the status line");
        Require(folder == before, "a refused join leaves the folder as it was");
    }
    return 0;
}
