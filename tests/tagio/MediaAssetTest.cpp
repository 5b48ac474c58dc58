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

const Item* findItem(const MediaAsset& asset, const QString& space, const QString& key) {
    for (const Item& item : asset.metadata()) {
        if (item.keySpace == space && item.key == key) {
            return &item;
        }
    }
    return nullptr;
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

TEST(MediaAsset, KeysItemsByTheirFormatsOwnNames) {
    const MediaAsset mp3 = MediaAsset::load(scan("tagged.mp3"));
    const Item* tit2 = findItem(mp3, MediaAsset::keySpaceID3, QStringLiteral("TIT2"));
    ASSERT_NE(tit2, nullptr);
    EXPECT_EQ(tit2->commonKey, MediaAsset::commonKeyTitle);
    EXPECT_EQ(tit2->stringValue, QStringLiteral("Fixture Title"));
    // ID3v2.3 TYER arrives as TDRC through TagLib.
    const Item* date = findItem(mp3, MediaAsset::keySpaceID3, QStringLiteral("TDRC"));
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(date->stringValue, QStringLiteral("1987"));
    EXPECT_EQ(date->numberValue, 1987);

    const MediaAsset m4a = MediaAsset::load(scan("tagged.m4a"));
    const Item* nam = findItem(m4a, MediaAsset::keySpaceiTunes, QStringLiteral("\u00A9nam"));
    ASSERT_NE(nam, nullptr);
    EXPECT_EQ(nam->stringValue, QStringLiteral("Fixture Title"));
    EXPECT_NE(findItem(m4a, MediaAsset::keySpaceiTunes, QStringLiteral("\u00A9gen")), nullptr);
    EXPECT_NE(findItem(m4a, MediaAsset::keySpaceiTunes, QStringLiteral("\u00A9day")), nullptr);

    const MediaAsset ogg = MediaAsset::load(scan("tagged.ogg"));
    const Item* vorbisDate = findItem(ogg, MediaAsset::keySpaceVorbis, QStringLiteral("DATE"));
    ASSERT_NE(vorbisDate, nullptr);
    EXPECT_EQ(vorbisDate->commonKey, MediaAsset::commonKeyCreationDate);

    const MediaAsset wma = MediaAsset::load(scan("tagged.wma"));
    const Item* album = findItem(wma, MediaAsset::keySpaceASF, QStringLiteral("WM/AlbumTitle"));
    ASSERT_NE(album, nullptr);
    EXPECT_EQ(album->commonKey, MediaAsset::commonKeyAlbumName);
    EXPECT_NE(findItem(wma, MediaAsset::keySpaceASF, QStringLiteral("Author")), nullptr);

    // The ID3 chunk of a WAV file, appended after the audio.
    const MediaAsset wav = MediaAsset::load(scan("tagged.wav"));
    EXPECT_NE(findItem(wav, MediaAsset::keySpaceID3, QStringLiteral("TCON")), nullptr);
}

TEST(MediaAsset, GenreReferencesStayReferencesForOurOwnNames) {
    const MediaAsset ref = MediaAsset::load(scan("genre_ref.mp3"));
    const Item* tcon = findItem(ref, MediaAsset::keySpaceID3, QStringLiteral("TCON"));
    ASSERT_NE(tcon, nullptr);
    EXPECT_EQ(tcon->stringValue, QStringLiteral("(17)"));
    EXPECT_EQ(resolveGenre(ref.commonMetadata(), ref.metadata(), extendedGenreNames()),
              QStringLiteral("Rock"));

    const MediaAsset gnre = MediaAsset::load(scan("gnre.m4a"));
    EXPECT_EQ(resolveGenre(gnre.commonMetadata(), gnre.metadata(), extendedGenreNames()),
              QStringLiteral("Rock"));
}

TEST(MediaAsset, KeepsEveryYearFrameInTagOrder) {
    const MediaAsset asset = MediaAsset::load(scan("year_mismatch.mp3"));
    QStringList years;
    for (const Item& item : asset.commonMetadata()) {
        if (item.commonKey == MediaAsset::commonKeyCreationDate) {
            years.append(*item.key + QLatin1Char('=') + item.stringValue.value_or(QString()));
        }
    }
    EXPECT_EQ(years, QStringList({"TYER=1987", "TDRC=2005"}));
}

TEST(MediaAsset, UntaggedAndTitleOnlyFilesGiveFewItems) {
    const MediaAsset untagged = MediaAsset::load(scan("untagged.mp3"));
    EXPECT_TRUE(untagged.metadata().isEmpty());
    EXPECT_GT(untagged.duration(), 0.0);
    const MediaAsset titleOnly = MediaAsset::load(scan("title_only.mp3"));
    ASSERT_EQ(titleOnly.commonMetadata().size(), 1);
    EXPECT_EQ(titleOnly.commonMetadata().first().stringValue, QStringLiteral("Only A Title"));
}

TEST(MediaAsset, ContentDecidesForAFileWithoutExtension) {
    const MediaAsset asset = MediaAsset::load(scan("no_extension"));
    EXPECT_GT(asset.duration(), 0.0);
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

TEST(MediaAsset, CommonItemsAreTheItemsWithACommonKey) {
    Item plain;
    plain.keySpace = MediaAsset::keySpaceID3;
    plain.key = QStringLiteral("TXXX");
    Item titled = plain;
    titled.key = QStringLiteral("TIT2");
    titled.commonKey = MediaAsset::commonKeyTitle;
    const MediaAsset asset = MediaAsset::fromItems({plain, titled, plain}, 1.5);
    EXPECT_EQ(asset.metadata().size(), 3);
    ASSERT_EQ(asset.commonMetadata().size(), 1);
    EXPECT_EQ(asset.commonMetadata().first().key, QStringLiteral("TIT2"));
    EXPECT_EQ(asset.duration(), 1.5);
}
