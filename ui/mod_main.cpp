#include "ui/mod_main.h"

#include <QString>

#include "tessel/product.h"

namespace tessel::ui::modMain {

void OpenWebSite(desktop::ShellService& shell) {
    shell.OpenWebAddress(QString::fromLatin1(product::kWebAddress));
}

}  // namespace tessel::ui::modMain
