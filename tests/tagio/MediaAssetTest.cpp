#include "tagio/MediaAsset.h"

#include "TestFiles.h"
#include "TestHelpers.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(MediaAsset, NonAudioMissingAndTruncatedFilesFailToLoad) {
    QTemporaryDir dir;
    const QString scan = TestFiles::fixturePath(QStringLiteral("scan/"));
    TestFiles::writeFile(dir.filePath("truncated.m4a"), TestFiles::readFile(scan + "tagged.m4a").left(40));
    TestFiles::writeFile(dir.filePath("empty.mp3"), QByteArray());
    TestFiles::writeFile(dir.filePath("tag_only.mp3"), QByteArray("ID3\x03\x00\x00\x00\x00\x00\x00", 10));
    for (const QString& path : {scan + "not_audio.mp3", scan + "notes.txt", dir.filePath("gone.mp3"),
                                dir.filePath("truncated.m4a"), dir.filePath("empty.mp3"), dir.filePath("tag_only.mp3")}) {
        expectThrows(AppError::Kind::tagReadFailed, [&] { MediaAsset::load(path); });
    }
}
