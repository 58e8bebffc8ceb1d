// Code page 850, the OEM code page the DOS and Windows command interpreter reads batch files in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessel {

// Converts UTF-8 text to code page 850. A character the code page lacks, a malformed byte and a
// control character (which no line of a batch file can hold) each become "?".
std::string Utf8ToCp850(std::string_view utf8);

}  // namespace tessel
