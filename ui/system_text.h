// Crossing between the window's texts (QString) and the engine's (std::string). Paths go to the
// system as UTF-8 bytes, as Qt takes them on Linux. A name is any string of bytes, though: one
// written in another encoding (Latin-1 from an old medium, say) must still reach the engine as
// it was given, so each byte that is no UTF-8 is carried in the text as a code unit of its own
// (U+DC80 to U+DCFF, which no valid text holds) and turned back into that byte on the way out.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tessel::ui {

// The bytes of a path the window holds, for the engine and the system.
std::string ToSystemPath(const QString& path);

// A text the engine built, or a path from the system, for the window: every byte string comes
// back whole through ToSystemPath.
QString FromSystemText(std::string_view text);

}  // namespace tessel::ui
