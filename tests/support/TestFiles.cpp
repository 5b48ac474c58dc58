#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace TestFiles {

QString fixturePath(const QString& relative) {
    return QDir(QStringLiteral(VELMORA_FIXTURES_DIR)).filePath(relative);
}

QString copyFixture(const QString& relative, const QTemporaryDir& dir, const QString& newName) {
    const QString source = fixturePath(relative);
    const QString target = dir.filePath(newName.isEmpty() ? QFileInfo(source).fileName() : newName);
    QFile::remove(target);
    if (!QFile::copy(source, target)) {
        throw std::runtime_error("cannot copy fixture " + source.toStdString());
    }
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return target;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("cannot read " + path.toStdString());
    }
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
}

} // namespace TestFiles
