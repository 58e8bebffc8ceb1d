// Services of the desktop that the window asks for: the open-file dialog, the folder browser,
// the question before a file is replaced, the help viewer, the web browser and the end of the
// program. The window reaches them only through these interfaces, so tests can answer them
// without opening anything.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace tessel::desktop {

// A question whose safe answer leaves everything as it is.
struct ReplaceQuestion {
    QString title;
    QString text;
    QString replaceCaption;  // the button that goes ahead
    QString keepCaption;     // the button that changes nothing: the default, and what Esc answers
};

class DialogService {
  public:
    virtual ~DialogService() = default;
    // Asks for a file, existing or typed in; its full path, or nothing when cancelled.
    virtual std::optional<QString> ChooseFile(QWidget* owner, const QString& title,
                                              const QString& folder, const QString& filter) = 0;
    // Asks for a folder of the file system, starting at `root`; nothing when cancelled.
    virtual std::optional<QString> ChooseFolder(QWidget* owner, const QString& title,
                                                const QString& root) = 0;
    // Asks `question` in a question dialog over `owner`; true only when the user chose to
    // replace.
    virtual bool AskToReplace(QWidget* owner, const ReplaceQuestion& question) = 0;
};

class HelpService {
  public:
    virtual ~HelpService() = default;
    // Shows `helpFile` at its contents page. Any problem is reported by the viewer alone.
    virtual void ShowContents(QWidget* owner, const QString& helpFile) = 0;
};

class ShellService {
  public:
    virtual ~ShellService() = default;
    // Hands `address` to the user's web browser; whether one opens is not looked at.
    virtual void OpenWebAddress(const QString& address) = 0;
};

class ProgramService {
  public:
    virtual ~ProgramService() = default;
    // Closes every window and ends the process, asking nothing.
    virtual void EndProgram() = 0;
};

// The services one window uses; they outlive it.
struct DesktopServices {
    DialogService& dialogs;
    HelpService& help;
    ShellService& shell;
    ProgramService& program;
};

}  // namespace tessel::desktop
