#include "ui/help_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "tessel/product.h"

namespace tessel::ui {

QStringList HelpFolders() {
    return {QCoreApplication::applicationDirPath(),
            QString::fromUtf8(product::kInstalledDataFolder)};
}

QString FindHelpFile(const QStringList& folders) {
    const QString name = QString::fromLatin1(kHelpFileName);
    for (const QString& folder : folders) {
        const QString file = QDir(folder).filePath(name);
        if (QFileInfo(file).isFile()) return file;
    }
    return folders.isEmpty() ? name : QDir(folders.constFirst()).filePath(name);
}

}  // namespace tessel::ui
