#include "cli/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>

namespace tessel::cli {
namespace {

using Seconds = std::chrono::duration<double>;

// No rate or time left is told before the work has run this long: the first buffers say little.
constexpr Seconds kSteadyAfter{0.5};
constexpr double kUnitStep = 1024.0;
constexpr int kPercent = 100;
constexpr int kSecondsPerMinute = 60;
constexpr int kSecondsPerHour = 60 * kSecondsPerMinute;

// The terminal's width in columns; nothing sensible when it cannot be told.
std::size_t TerminalColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

// "0:07" or "1:02:03".
std::string DurationText(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(seconds));
    const long long hours = whole / kSecondsPerHour;
    const long long minutes = whole % kSecondsPerHour / kSecondsPerMinute;
    const long long rest = whole % kSecondsPerMinute;
    std::array<char, 32> text{};
    if (hours > 0)
        std::snprintf(text.data(), text.size(), "%lld:%02lld:%02lld", hours, minutes, rest);
    else
        std::snprintf(text.data(), text.size(), "%lld:%02lld", minutes, rest);
    return text.data();
}

}  // namespace

std::string ByteText(double bytes) {
    static constexpr std::array<const char*, 6> kUnits = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    std::size_t unit = 0;
    while (bytes >= kUnitStep && unit + 1 < kUnits.size()) {
        bytes /= kUnitStep;
        ++unit;
    }
    std::array<char, 32> text{};
    if (unit == 0)
        std::snprintf(text.data(), text.size(), "%.0f B", bytes);
    else
        std::snprintf(text.data(), text.size(), "%.1f %s", bytes, kUnits[unit]);
    return text.data();
}

ProgressLine::ProgressLine(std::string doing, bool wanted)
    : doing_(std::move(doing)),
      shown_(wanted && ::isatty(STDERR_FILENO) == 1),
      start_(Clock::now()),
      lastDrawn_(start_) {}

ProgressLine::~ProgressLine() {
    Erase();
}

void ProgressLine::Show(std::int64_t done, std::int64_t total) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (now - lastDrawn_ < kRedrawEvery) return;
    lastDrawn_ = now;
    Draw(Text(done, total, now - start_));
}

std::string ProgressLine::Text(std::int64_t done, std::int64_t total,
                               Clock::duration elapsed) const {
    const auto percent = total > 0 ? done * kPercent / total : 0;
    std::string text = doing_ + " " + std::to_string(percent) + "%  " +
                       ByteText(static_cast<double>(done)) + " of " +
                       ByteText(static_cast<double>(total));
    const double seconds = std::chrono::duration_cast<Seconds>(elapsed).count();
    if (seconds < kSteadyAfter.count() || done <= 0) return text;
    const double rate = static_cast<double>(done) / seconds;
    text += "  " + ByteText(rate) + "/s  " +
            DurationText(static_cast<double>(total - done) / rate) + " left";
    return text;
}

// Overwrites the line from its start; a longer line than the terminal would wrap, and could
// then not be redrawn in place, so it is cut to the width.
void ProgressLine::Draw(const std::string& text) {
    std::string line = text.substr(0, TerminalColumns() - 1);
    const std::size_t width = line.size();
    if (width < drawnWidth_) line += std::string(drawnWidth_ - width, ' ');
    std::fputc('\r', stderr);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    drawnWidth_ = width;
}

void ProgressLine::Erase() {
    if (drawnWidth_ == 0) return;
    std::string blank(drawnWidth_ + 2, ' ');
    blank.front() = blank.back() = '\r';
    std::fputs(blank.c_str(), stderr);
    std::fflush(stderr);
    drawnWidth_ = 0;
}

}  // namespace tessel::cli
