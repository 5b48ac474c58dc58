#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Helpers for tests that work on real files: fixtures are never changed in
// place; a test copies one into its own temporary folder first.
namespace TestFiles {

// Absolute path of a committed fixture, e.g. fixturePath("id3/v23.mp3").
QString fixturePath(const QString& relative);

// Copies a fixture into `dir` (under its file name, or `newName`) and returns the copy's path.
QString copyFixture(const QString& relative, const QTemporaryDir& dir, const QString& newName = {});

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

} // namespace TestFiles
