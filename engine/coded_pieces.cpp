#include "engine/coded_pieces.h"

#include <algorithm>
#include <cstring>

namespace tessel {

CodedPieces::CodedPieces(const RecoveryCode& code, int count)
    : code_(code), count_(count), length_(code.RecoveryLength()) {
    places_.resize(static_cast<std::size_t>(count));
    regions_.resize(static_cast<std::size_t>(count));
    for (int piece = 0; piece < count; ++piece) locks_.push_back(std::make_unique<std::mutex>());
    if (length_ * count <= kMemoryBudget)
        memory_.assign(static_cast<std::size_t>(count),
                       std::vector<std::byte>(static_cast<std::size_t>(length_)));
}

bool CodedPieces::Add(int piece, CodeCoefficient coefficient, std::span<const std::byte> bytes,
                      std::int64_t offset) {
    if (bytes.empty()) return true;
    const std::lock_guard lock(*locks_[static_cast<std::size_t>(piece)]);
    if (!InFiles()) {
        code_.AddProduct(coefficient, bytes, offset, memory_[static_cast<std::size_t>(piece)], 0);
        return true;
    }
    // The region the product changes: whole words, and the whole tail where it reaches it.
    const std::int64_t word = code_.WordBytes();
    const std::int64_t end = offset + std::ssize(bytes);
    std::int64_t from = offset - offset % word;
    std::int64_t to = std::min(end + end % word, length_);
    if (to > code_.TailStart()) {
        from = std::min(from, code_.TailStart());
        to = length_;
    }
    auto& region = regions_[static_cast<std::size_t>(piece)];
    region.assign(static_cast<std::size_t>(to - from), std::byte{0});
    const Place place = places_[static_cast<std::size_t>(piece)];
    const auto got = place.file->ReadAt(region, place.offset + from);
    if (!got) return false;
    // What lies past the end of the file reads as nothing: it is still zeros.
    std::fill(region.begin() + static_cast<std::ptrdiff_t>(*got), region.end(), std::byte{0});
    code_.AddProduct(coefficient, bytes, offset, region, from);
    return place.file->WriteAt(region, place.offset + from);
}

bool CodedPieces::Read(int piece, std::span<std::byte> into, std::int64_t offset) {
    const auto count =
        static_cast<std::size_t>(std::clamp<std::int64_t>(length_ - offset, 0, std::ssize(into)));
    if (!InFiles()) {
        std::memcpy(into.data(), memory_[static_cast<std::size_t>(piece)].data() + offset, count);
        return true;
    }
    const Place place = places_[static_cast<std::size_t>(piece)];
    const auto got = place.file->ReadAt(into.first(count), place.offset + offset);
    if (!got) return false;
    std::fill(into.begin() + static_cast<std::ptrdiff_t>(*got),
              into.begin() + static_cast<std::ptrdiff_t>(count), std::byte{0});
    return true;
}

}  // namespace tessel
