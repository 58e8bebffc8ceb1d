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

constexpr std::array<int, 2> kSignals = {SIGINT, SIGTERM};
constexpr int kSignalExitBase = 128;

extern "C" void OnSignal(int signal) {
    int none = 0;
    gSignal.compare_exchange_strong(none, signal, std::memory_order_relaxed);
    gCancel.store(true, std::memory_order_relaxed);
}

std::array<struct sigaction, kSignals.size()> gPrevious{};

}  // namespace

Interruption::Interruption() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Reads and writes the signal interrupts go on: the engine itself notices the flag.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &action, &gPrevious[i]);
}

Interruption::~Interruption() {
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &gPrevious[i], nullptr);
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
