#include "platform/desktop/qt_desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace tessel::desktop {

std::optional<QString> QtDialogService::ChooseFile(QWidget* owner, const QString& title,
                                                   const QString& folder, const QString& filter) {
    QFileDialog dialog(owner, title, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // a typed name of a missing file is accepted too
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> QtDialogService::ChooseFolder(QWidget* owner, const QString& title,
                                                     const QString& root) {
    const QString folder = QFileDialog::getExistingDirectory(owner, title, root);
    if (folder.isEmpty()) return {};
    return folder;
}

bool QtDialogService::AskToReplace(QWidget* owner, const ReplaceQuestion& question) {
    QMessageBox box(QMessageBox::Question, question.title, question.text, QMessageBox::NoButton,
                    owner);
    QPushButton* replace = box.addButton(question.replaceCaption, QMessageBox::DestructiveRole);
    QPushButton* keep = box.addButton(question.keepCaption, QMessageBox::RejectRole);
    // A key pressed without reading must not cost the file its data.
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    return box.clickedButton() == replace;
}

void QtHelpService::ShowContents(QWidget* /*owner*/, const QString& helpFile) {
    // The viewer is a window of its own, like a system help viewer, not a child of the caller.
    if (!viewer_) viewer_ = std::make_unique<HelpViewer>();
    viewer_->ShowContents(helpFile);
}

void QtShellService::OpenWebAddress(const QString& address) {
    QDesktopServices::openUrl(QUrl(address));
}

void QtProgramService::EndProgram() {
    // Leaving the event loop ends main(), which takes every window down with it.
    QApplication::quit();
}

}  // namespace tessel::desktop
