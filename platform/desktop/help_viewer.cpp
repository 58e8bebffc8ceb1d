#include "platform/desktop/help_viewer.h"

#include <QFileInfo>
#include <QUrl>

namespace tessel::desktop {
namespace {

constexpr int kViewerWidth = 560;
constexpr int kViewerHeight = 480;

}  // namespace

HelpViewer::HelpViewer() {
    setObjectName("HelpViewer");
    setWindowTitle(tr("Tessel Help"));
    setOpenExternalLinks(true);  // web links go to the browser, links inside the file stay here
    // A caret that the arrow keys move, read-only as before: a screen reader reads the line it
    // moves to, so the help can be read line by line.
    setTextInteractionFlags(textInteractionFlags() | Qt::TextSelectableByKeyboard);
    resize(kViewerWidth, kViewerHeight);
}

void HelpViewer::ShowContents(const QString& helpFile) {
    const QFileInfo file(helpFile);
    if (file.isFile() && file.isReadable()) {
        // The help file's suffix says nothing about its content, so its type is given here.
        setSource(QUrl::fromLocalFile(file.absoluteFilePath()), QTextDocument::HtmlResource);
    } else {
        clearHistory();
        setPlainText(tr("The help file %1 cannot be opened.").arg(helpFile));
    }
    moveCursor(QTextCursor::Start);
    show();
    raise();
    activateWindow();
}

}  // namespace tessel::desktop
