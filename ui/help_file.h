// Where the help viewer finds the help file: beside the executable, as in a build folder or a
// copied program folder, and then in the data folder the package installs it into.
#pragma once

#include <QString>
#include <QStringList>

namespace tessel::ui {

inline constexpr char kHelpFileName[] = "Tessel.hlp";

// The folders searched for the help file, in order: the executable's, then the installed one.
QStringList HelpFolders();

// The help file in the first of `folders` that holds one. When none does, the one of the first
// folder, so that the viewer reports the file missing where it was looked for first.
QString FindHelpFile(const QStringList& folders);

}  // namespace tessel::ui
