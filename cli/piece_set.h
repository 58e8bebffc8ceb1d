// NAME on the command line of join, verify and repair, and the pieces of its set as they are
// shown: one line per piece, "PATH: WORD", as sha256sum shows the files it checks.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/join.h"
#include "engine/verify.h"

namespace tessel::cli {

// Adds NAME, the command's one argument: the file, or any of its pieces (numbered or recovery),
// or its checksum file; `purpose` says what the command does with it.
void AddNameArgument(CLI::App& command, std::string& name, std::string_view purpose);

// The request for NAME as given: a piece or the checksum file stands for the file they belong to.
JoinRequest RequestFor(std::string_view given);

// One piece as the user is shown it: its path in the folder NAME was given in (a bare name where
// NAME had no folder), as sha256sum prints the paths it is given, and what was found of it.
struct PieceLine {
    std::string path;
    PieceState state;
};

// Every piece a verify looked at, in order: the numbered pieces, then the recovery pieces.
std::vector<PieceLine> PieceLines(const JoinRequest& request, const VerifyResult& found);

// "PATH: WORD".
std::string LineOf(const PieceLine& piece, std::string_view word);

// "1 piece" or "K pieces", with `kind` ("piece" or "recovery piece").
std::string Counted(std::int64_t count, std::string_view kind);

// "1 piece is missing or damaged" or "K pieces are missing or damaged", likewise.
std::string LostText(std::int64_t count, std::string_view kind);

}  // namespace tessel::cli
