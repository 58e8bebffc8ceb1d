// Tessel's help viewer: a plain window that shows the HTML help file shipped beside the
// executable.
#pragma once

#include <QTextBrowser>

namespace tessel::desktop {

class HelpViewer : public QTextBrowser {
    Q_OBJECT

  public:
    HelpViewer();

    // Shows `helpFile` from its first line (its contents page). A file that cannot be read is
    // reported inside the viewer.
    void ShowContents(const QString& helpFile);
};

}  // namespace tessel::desktop
