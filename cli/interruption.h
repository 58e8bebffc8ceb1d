// Ctrl-C (SIGINT), SIGTERM and SIGHUP stop a running command as Esc stops a split or join in the
// window: the signal only raises the operation's cancel flag, the engine stops at its next buffer
// and takes back what it wrote, and the program then ends with status 128 + the signal's number.
// A signal the program was started with ignored (nohup) stays ignored.
#pragma once

#include <atomic>
#include <optional>

namespace tessel::cli {

class Interruption {
  public:
    // Catches the signals until destroyed; only one may exist at a time.
    Interruption();
    ~Interruption();
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    // The flag the engine watches: raised by the first of the signals.
    const std::atomic<bool>* Flag() const;
    // Whether a signal has come.
    bool Interrupted() const;
    // 128 + the number of the signal that came first, as shells report a program the signal
    // ended.
    int ExitStatus() const;
};

}  // namespace tessel::cli
