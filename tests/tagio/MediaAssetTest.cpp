#include "tagio/MediaAsset.h"

#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppError.h"
#include "tagio/GenreNames.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString scan(const char* name) {
    return TestFiles::fixturePath(QStringLiteral("scan/") + QLatin1String(name));
}

} // namespace

TEST(MediaAsset, NonAudioMissingAndTruncatedFilesFailToLoad) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString truncated = dir.filePath(QStringLiteral("truncated.m4a"));
    TestFiles::writeFile(truncated, TestFiles::readFile(scan("tagged.m4a")).left(40));
    const QString empty = dir.filePath(QStringLiteral("empty.mp3"));
    TestFiles::writeFile(empty, QByteArray());
    const QString tagOnly = dir.filePath(QStringLiteral("tag_only.mp3"));
    TestFiles::writeFile(tagOnly, QByteArray("ID3\x03\x00\x00\x00\x00\x00\x00", 10));

    for (const QString& path : {scan("not_audio.mp3"), scan("notes.txt"),
                                dir.filePath(QStringLiteral("gone.mp3")), truncated, empty, tagOnly}) {
        SCOPED_TRACE(path.toStdString());
        expectThrows(AppError::Kind::tagReadFailed, [&] { MediaAsset::load(path); });
    }
}
