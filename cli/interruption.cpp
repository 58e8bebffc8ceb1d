#include "cli/interruption.h"

#include <signal.h>

#include <array>

namespace tessel::cli {
namespace {

// Written by the signal handler, so only lock-free atomics: each write is one instruction that
// no handler can interrupt half done.
std::atomic<bool> gCancel{false};
std::atomic<int> gSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

// Ctrl-C, kill's default, and the terminal or ssh connection going away.
constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalExitBase = 128;

extern "C" void OnSignal(int signal) {
    int none = 0;
    gSignal.compare_exchange_strong(none, signal, std::memory_order_relaxed);
    gCancel.store(true, std::memory_order_relaxed);
}

std::array<struct sigaction, kSignals.size()> gPrevious{};
std::array<bool, kSignals.size()> gCaught{};

}  // namespace

Interruption::Interruption() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Reads and writes the signal interrupts go on: the engine itself notices the flag.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        // A signal ignored from the start stays ignored: nohup, or a shell's background job,
        // asked for the work to go on whatever the terminal does.
        gCaught[i] = ::sigaction(kSignals[i], nullptr, &gPrevious[i]) == 0 &&
                     gPrevious[i].sa_handler != SIG_IGN &&
                     ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
}

Interruption::~Interruption() {
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        if (gCaught[i]) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
}

const std::atomic<bool>* Interruption::Flag() const {
    return &gCancel;
}

bool Interruption::Interrupted() const {
    return gCancel.load(std::memory_order_relaxed);
}

int Interruption::ExitStatus() const {
    return kSignalExitBase + gSignal.load(std::memory_order_relaxed);
}

}  // namespace tessel::cli
