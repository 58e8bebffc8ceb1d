// The checksum-file reader against its model, the writer: every list the writer makes reads
// back as exactly that list, a list missing its last line reads as incomplete, and whatever
// random or damaged text does read is a list of exactly the pieces of that name, which the
// writer makes again into text that reads back the same.
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

std::string Write(const tessel::ChecksumList& list, const std::string& name) {
    std::string text = list.header ? tessel::ChecksumHeaderLine(*list.header) : "";
    for (std::int64_t n = 1; n <= list.Pieces(); ++n)
        text += tessel::ChecksumLine(list.digests[static_cast<std::size_t>(n - 1)],
                                     tessel::PieceName(name, n, kExtension));
    return text;
}

tessel::ChecksumList RandomList(FuzzedDataProvider& input) {
    tessel::ChecksumHeader header;
    header.pieces = input.ConsumeIntegralInRange<std::int64_t>(1, kMaxListedPieces);
    header.chunk = input.ConsumeIntegralInRange<std::int64_t>(1, std::int64_t{1} << 40);
    const std::int64_t full = (header.pieces - 1) * header.chunk;
    header.size = input.ConsumeIntegralInRange<std::int64_t>(header.pieces == 1 ? 0 : full + 1,
                                                             full + header.chunk);
    header.name = input.ConsumeRandomLengthString(64);
    tessel::ChecksumList list;
    list.header = header;
    for (std::int64_t n = 0; n < header.pieces; ++n) {
        tessel::Digest digest{};
        for (auto& byte : digest) byte = input.ConsumeIntegral<std::uint8_t>();
        list.digests.push_back(digest);
    }
    if (input.ConsumeBool()) list.header.reset();  // a plain sha256sum list
    return list;
}

void RequireReadsOnlyListsOfThePieces(const std::string& text, const std::string& name) {
    tessel::ChecksumList list;
    if (tessel::ParseChecksumFile(text, name, kExtension, list) != tessel::ListReading::Complete)
        return;
    Require(list.Pieces() >= 1 && list.Pieces() <= tessel::kMaxPieces,
            "a list read names at least one piece and no more than a split writes");
    if (list.header) {
        Require(list.header->name == name, "a list read for a name is that name's");
        Require(list.header->pieces == list.Pieces(), "Tessel's list holds what its header says");
    }
    tessel::ChecksumList again;
    Require(tessel::ParseChecksumFile(Write(list, name), name, kExtension, again) ==
                    tessel::ListReading::Complete &&
                again.digests == list.digests &&
                again.header.has_value() == list.header.has_value(),
            "whatever reads is what the writer makes of it, read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool()) {
        const std::string name = input.ConsumeRandomLengthString(32);
        RequireReadsOnlyListsOfThePieces(input.ConsumeRemainingBytesAsString(), name);
        return 0;
    }
    const tessel::ChecksumList list = RandomList(input);
    const std::string name = list.header ? list.header->name : input.ConsumeRandomLengthString(32);
    const std::string text = Write(list, name);
    tessel::ChecksumList read;
    Require(
        tessel::ParseChecksumFile(text, name, kExtension, read) == tessel::ListReading::Complete,
        "every list the writer makes reads");
    Require(read.digests == list.digests && read.header.has_value() == list.header.has_value(),
            "a list reads back as written");
    if (list.header) {
        Require(read.header->size == list.header->size &&
                    read.header->chunk == list.header->chunk &&
                    read.header->pieces == list.header->pieces,
                "a header reads back as written");
        const auto lastLine = text.rfind('\n', text.size() - 2);
        tessel::ChecksumList cut;
        Require(tessel::ParseChecksumFile(text.substr(0, lastLine + 1), name, kExtension, cut) ==
                    tessel::ListReading::Incomplete,
                "Tessel's list without its last line reads as incomplete");
    }

    std::string damaged = text;
    if (!damaged.empty()) {
        const auto at = input.ConsumeIntegralInRange<std::size_t>(0, damaged.size() - 1);
        damaged[at] = static_cast<char>(input.ConsumeIntegral<std::uint8_t>());
    }
    RequireReadsOnlyListsOfThePieces(damaged, name);
    return 0;
}
