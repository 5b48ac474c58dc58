#include "model/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace PrivateFiles {

bool makeDirectory(const QString& path) {
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    qsizetype slash = 0;
    while (slash >= 0) {
        slash = absolute.indexOf(QLatin1Char('/'), slash + 1);
        const QString prefix = slash < 0 ? absolute : absolute.left(slash);
        // EEXIST and the like are fine: the final check decides.
        ::mkdir(QFile::encodeName(prefix).constData(), 0700);
    }
    return QFileInfo(absolute).isDir();
}

} // namespace PrivateFiles
