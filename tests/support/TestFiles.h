#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>

// Fixtures are never changed in place: a test copies one into its own temporary folder first.
namespace TestFiles {

// Absolute path of a committed fixture, e.g. fixturePath("id3/v23.mp3").
QString fixturePath(const QString& relative);

// Copies a fixture into `dir` (under its file name, or `newName`) and returns the copy's path.
QString copyFixture(const QString& relative, const QTemporaryDir& dir, const QString& newName = {});

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

// A file of `size` bytes: `head`, a hole, and a byte 1 at `mark` when given; false where the file system cannot.
bool writeSparse(const QString& path, const QByteArray& head, qint64 size, qint64 mark = 0);

// Growth of the peak resident memory (KiB) while `run` runs in a child process (an
// exception counts as done); -1 when the child died first.
long peakGrowthKiB(const std::function<void()>& run);

} // namespace TestFiles
