// Tessel: splits a file into pieces of a fixed size and joins them back.
#include <QApplication>

#include "engine/shared_settings.h"
#include "platform/desktop/qt_desktop.h"
#include "ui/dlg_info.h"
#include "ui/frm_main.h"
#include "ui/look.h"
#include "ui/start_path.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);  // takes Qt's own options out of argv
    tessel::ui::PrepareApplication();

    tessel::SharedSettings settings;  // lives as long as the process
    tessel::desktop::QtDesktop desktop;
    tessel::ui::InfoDialogPresenter summary;
    tessel::ui::frmMain window(settings, desktop.Services(), summary);
    if (argc > 1) {
        if (const auto path = tessel::ui::StartPath({argv + 1, argv + argc}))
            window.TakeStartPath(*path);
    }
    window.show();
    return application.exec();
}
