#include "tagio/MediaAsset.h"

#include "TestFiles.h"
#include "model/AppError.h"
#include "tagio/GenreNames.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Item = MediaAsset::Item;

QString scan(const char* name) {
    return TestFiles::fixturePath(QStringLiteral("scan/") + QLatin1String(name));
}

std::optional<QString> firstCommon(const MediaAsset& asset, const QString& key) {
    for (const Item& item : asset.commonMetadata()) {
        if (item.commonKey == key && item.stringValue && !item.stringValue->isEmpty()) {
            return item.stringValue;
        }
    }
    return std::nullopt;
}

} // namespace

// Every format the reader sends through the media layer yields the common
// fields and a short, positive duration.
TEST(MediaAsset, ReadsCommonFieldsOfEveryFormat) {
    for (const char* name : {"tagged.mp3", "tagged.m4a", "tagged.aac", "tagged.aiff", "tagged.aif",
                             "tagged.wav", "tagged.ogg", "tagged.opus", "tagged.wma", "tagged.flac"}) {
        SCOPED_TRACE(name);
        const MediaAsset asset = MediaAsset::load(scan(name));
        EXPECT_EQ(firstCommon(asset, MediaAsset::commonKeyTitle), QStringLiteral("Fixture Title"));
        EXPECT_EQ(firstCommon(asset, MediaAsset::commonKeyArtist), QStringLiteral("Fixture Artist"));
        EXPECT_EQ(firstCommon(asset, MediaAsset::commonKeyAlbumName), QStringLiteral("Fixture Album"));
        EXPECT_EQ(firstCommon(asset, MediaAsset::commonKeyType), QStringLiteral("House"));
        EXPECT_GT(asset.duration(), 0.05);
        EXPECT_LT(asset.duration(), 0.5);
        for (const Item& item : asset.commonMetadata()) {
            EXPECT_TRUE(item.commonKey.has_value());
        }
    }
}

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
        try {
            MediaAsset::load(path);
            ADD_FAILURE() << "loaded";
        } catch (const AppError& e) {
            EXPECT_EQ(e.kind(), AppError::Kind::tagReadFailed);
            EXPECT_EQ(e.url(), path);
        }
    }
}
