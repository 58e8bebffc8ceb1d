// Tessel: splits a file into pieces of a fixed size and joins them back.
#include <QApplication>

#include "engine/shared_settings.h"
#include "platform/desktop/qt_desktop.h"
#include "ui/dlg_info.h"
#include "ui/frm_main.h"
#include "ui/look.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    tessel::ui::PrepareApplication();

    tessel::SharedSettings settings;  // lives as long as the process
    tessel::desktop::QtDesktop desktop;
    tessel::ui::InfoDialogPresenter summary;
    tessel::ui::frmMain window(settings, desktop.Services(), summary);
    window.show();
    return application.exec();
}
