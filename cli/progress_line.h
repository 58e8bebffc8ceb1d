// The line on standard error that shows how far a command has come while it runs, where
// a person watches a terminal: "Joining pieces...  42%  1.7 GiB of 4.0 GiB  210.3 MiB/s
// 0:09 left". It is redrawn in place a few times a second and erased when the work ends; where
// standard error is not a terminal nothing is written at all.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessel::cli {

class ProgressLine {
  public:
    // `doing` names the work; `wanted` is false where the user asked for quiet.
    ProgressLine(std::string doing, bool wanted);
    // Erases the line, so that whatever is printed next starts on a clean one.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Told by the engine as it copies; draws at most every kRedrawEvery.
    void Show(std::int64_t done, std::int64_t total);

    // Whether the line is drawn at all.
    bool Shown() const { return shown_; }

  private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kRedrawEvery = std::chrono::milliseconds(250);

    std::string Text(std::int64_t done, std::int64_t total, Clock::duration elapsed) const;
    void Draw(const std::string& text);
    void Erase();

    std::string doing_;
    bool shown_;
    Clock::time_point start_;
    Clock::time_point lastDrawn_;
    std::size_t drawnWidth_ = 0;
};

// `bytes` in binary units with one decimal: "512 B", "1.5 KiB", "4.0 GiB".
std::string ByteText(double bytes);

}  // namespace tessel::cli
