// The checksum-file reader against its model, the writer: every list the writer makes reads
// back as exactly that list, a list missing its last line never reads, and whatever random or
// damaged text does read is exactly what the writer would make of the result, so the reader
// accepts nothing but what Tessel writes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/checksum.h"
#include "engine/piece_naming.h"
#include "fuzz/fuzz_check.h"

namespace {

using tessel::fuzz::Require;

constexpr char kExtension[] = ".BRK";
constexpr std::int64_t kMaxListedPieces = 64;  // enough for every shape, quick to build

std::string Write(const tessel::ChecksumList& list) {
    std::string text = tessel::ChecksumHeaderLine(list.header);
    for (std::int64_t n = 1; n <= list.header.pieces; ++n)
        text += tessel::ChecksumLine(list.digests[static_cast<std::size_t>(n - 1)],
                                     tessel::PieceName(list.header.name, n, kExtension));
    return text;
}

tessel::ChecksumList RandomList(FuzzedDataProvider& input) {
    tessel::ChecksumList list;
    list.header.pieces = input.ConsumeIntegralInRange<std::int64_t>(1, kMaxListedPieces);
    list.header.chunk = input.ConsumeIntegralInRange<std::int64_t>(1, std::int64_t{1} << 40);
    const std::int64_t full = (list.header.pieces - 1) * list.header.chunk;
    list.header.size = input.ConsumeIntegralInRange<std::int64_t>(
        list.header.pieces == 1 ? 0 : full + 1, full + list.header.chunk);
    list.header.name = input.ConsumeRandomLengthString(64);
    for (std::int64_t n = 0; n < list.header.pieces; ++n) {
        tessel::Digest digest{};
        for (auto& byte : digest) byte = input.ConsumeIntegral<std::uint8_t>();
        list.digests.push_back(digest);
    }
    return list;
}

void RequireReadsOnlyWhatIsWritten(const std::string& text, const std::string& name) {
    const auto list = tessel::ParseChecksumFile(text, name, kExtension);
    if (!list) return;
    Require(list->header.name == name, "a list read for a name is that name's");
    Require(Write(*list) == text, "whatever reads is exactly what the writer makes of it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool()) {
        const std::string name = input.ConsumeRandomLengthString(32);
        RequireReadsOnlyWhatIsWritten(input.ConsumeRemainingBytesAsString(), name);
        return 0;
    }
    const tessel::ChecksumList list = RandomList(input);
    const std::string text = Write(list);
    const auto read = tessel::ParseChecksumFile(text, list.header.name, kExtension);
    Require(read.has_value(), "every list the writer makes reads");
    Require(read->header.size == list.header.size && read->header.chunk == list.header.chunk &&
                read->header.pieces == list.header.pieces && read->digests == list.digests,
            "a list reads back as written");

    const auto lastLine = text.rfind('\n', text.size() - 2);
    Require(!tessel::ParseChecksumFile(text.substr(0, lastLine + 1), list.header.name, kExtension),
            "a list without its last line never reads");

    std::string damaged = text;
    if (!damaged.empty()) {
        const auto at = input.ConsumeIntegralInRange<std::size_t>(0, damaged.size() - 1);
        damaged[at] = static_cast<char>(input.ConsumeIntegral<std::uint8_t>());
    }
    RequireReadsOnlyWhatIsWritten(damaged, list.header.name);
    return 0;
}
