// Pieces made by adding products of other pieces into them, as the recovery code streams: the
// recovery pieces a split writes, and the pieces a join rebuilds. Every one of them is built up
// to its whole length before any of its bytes is final, so they are held in memory where all of
// them fit a fixed budget, and otherwise in the files they go to, each product read, added to
// and written back there a region at a time: memory stays bounded whatever their length.
// Products may be added from several threads at once: each piece is added to by one at a time,
// and adding is a sum, so the order the products come in does not change a piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "engine/recovery_code.h"
#include "platform/file_system.h"

namespace tessel {

class CodedPieces {
  public:
    // What all the pieces together may hold in memory.
    static constexpr std::int64_t kMemoryBudget = std::int64_t{32} << 20;

    // Where a piece is built when it is not in memory: a file, and where in it the piece starts.
    // The bytes there must start as zeros.
    struct Place {
        platform::File* file = nullptr;
        std::int64_t offset = 0;
    };

    // `count` pieces of the code's recovery length, all zeros.
    CodedPieces(const RecoveryCode& code, int count);

    // Whether the pieces are built in their files (Places must then be given) or in memory.
    bool InFiles() const { return memory_.empty() && count_ > 0 && length_ > 0; }
    void SetPlace(int piece, Place place) { places_[static_cast<std::size_t>(piece)] = place; }

    // Adds `coefficient` times `bytes`, which stand at `offset` in their own piece, to piece
    // `piece`, waiting while another thread adds to it. False when its file could not be read
    // or written.
    bool Add(int piece, CodeCoefficient coefficient, std::span<const std::byte> bytes,
             std::int64_t offset);
    // Reads the built bytes of piece `piece` from `offset`: as many as fit `into` and the piece.
    bool Read(int piece, std::span<std::byte> into, std::int64_t offset);

    std::int64_t Length() const { return length_; }

  private:
    const RecoveryCode& code_;
    int count_;
    std::int64_t length_;
    std::vector<std::vector<std::byte>> memory_;
    std::vector<Place> places_;
    // For each piece: the lock its adders take, and the region of its file being added to.
    std::vector<std::unique_ptr<std::mutex>> locks_;
    std::vector<std::vector<std::byte>> regions_;
};

}  // namespace tessel
