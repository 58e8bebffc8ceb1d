// The values the window hands to the engine and the engine's results hand back to the window.
#pragma once

#include <cstdint>
#include <string>

#include "engine/report.h"
#include "tessel/product.h"

namespace tessel {

struct SharedSettings {
    std::string OutputFolder;    // where a split writes its pieces
    std::string PieceExtension;  // ".BRK": ends every piece name
    std::int64_t ChunkSize = 0;  // bytes per piece
    std::string InfoMessage;     // shown by the information dialog
    std::string StatusMessage;   // shown in the main window's status line
    double PieceCount = 0.0;     // input size / chunk size, as the last split computed it
};

// Defaults every start begins from; nothing is read from or saved to disk.
inline constexpr auto& kDefaultPieceExtension = product::kPieceExtension;
inline constexpr std::int64_t kDefaultChunkSize = 1457644;

// Gives the settings their start-up values: OutputFolder, PieceExtension, InfoMessage and
// ChunkSize, in that order. StatusMessage and PieceCount are left as they are.
void SetStartupDefaults(SharedSettings& settings);

// Takes an operation's texts into the settings: its status always, its information message
// where it gives one.
void TakeReport(SharedSettings& settings, const Report& report);

}  // namespace tessel
