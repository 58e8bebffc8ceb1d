// The desktop services of a Qt desktop: Qt's file dialogs and message box, Tessel's own help
// viewer, the system's web browser and the end of the application.
#pragma once

#include <memory>

#include "platform/desktop/desktop_services.h"
#include "platform/desktop/help_viewer.h"

namespace tessel::desktop {

class QtDialogService final : public DialogService {
  public:
    std::optional<QString> ChooseFile(QWidget* owner, const QString& title, const QString& folder,
                                      const QString& filter) override;
    std::optional<QString> ChooseFolder(QWidget* owner, const QString& title,
                                        const QString& root) override;
    bool AskToReplace(QWidget* owner, const ReplaceQuestion& question) override;
};

// Keeps one help viewer, made at the first request, for the rest of the run.
class QtHelpService final : public HelpService {
  public:
    void ShowContents(QWidget* owner, const QString& helpFile) override;
    // The viewer once help has been asked for; null before.
    HelpViewer* Viewer() const { return viewer_.get(); }

  private:
    std::unique_ptr<HelpViewer> viewer_;
};

class QtShellService final : public ShellService {
  public:
    void OpenWebAddress(const QString& address) override;
};

class QtProgramService final : public ProgramService {
  public:
    void EndProgram() override;
};

// All four, for one application; create it after the QApplication and let it go before.
class QtDesktop {
  public:
    DesktopServices Services() { return {dialogs_, help_, shell_, program_}; }

  private:
    QtDialogService dialogs_;
    QtHelpService help_;
    QtShellService shell_;
    QtProgramService program_;
};

}  // namespace tessel::desktop
