// How an engine operation ended and what the user is told of it: one value that the check and
// the writing steps of the split and the join return, and that every caller (the window, the
// command line, the tests) reads instead of texts left in shared state.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessel {

enum class Outcome {
    Done,       // the operation did what was asked (a check: it may go on)
    Failed,     // it could not be carried out; its failure texts say so
    Refused,    // refused before anything was written, and nothing at all may be written
    Cancelled,  // stopped by the caller; what it wrote is taken back
};

struct Report {
    Outcome outcome = Outcome::Done;
    std::string status;               // the status line's text
    std::optional<std::string> info;  // the information message; nothing leaves it as it was

    bool Done() const { return outcome == Outcome::Done; }
};

// The texts an operation fails with: its status line, and the information "<open>PATH]." that
// names the path it was given.
struct FailureTexts {
    std::string_view status;
    std::string_view infoOpen;
};

// The operation's failure: its status line (or `status`, where it says more) and its
// information naming `path`.
Report Failure(const FailureTexts& texts, std::string_view path,
               std::optional<std::string_view> status = std::nullopt);
// An end that only the status line tells: the information message stays as it was.
Report StatusOnly(Outcome outcome, std::string_view status);

}  // namespace tessel
