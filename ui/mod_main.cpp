#include "ui/mod_main.h"

#include <QString>

namespace tessel::ui::modMain {

void OpenWebSite(desktop::ShellService& shell) {
    shell.OpenWebAddress(QString::fromLatin1(kWebAddress));
}

}  // namespace tessel::ui::modMain
