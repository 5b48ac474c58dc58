#include "tagio/UniversalTagReader.h"

#include "LogCapture.h"
#include "QtPrinters.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppError.h"

#include <QDir>
#include <QTemporaryDir>

#include <taglib/fileref.h>

#include <gtest/gtest.h>

namespace {

QString scan(const QString& name) {
    return TestFiles::fixturePath(QStringLiteral("scan/") + name);
}

} // namespace

TEST(UniversalTagReader, ReadsEveryFormat) {
    // ffmpeg ends ID3 text frames with a NUL; our own ID3 handler's genre is
    // the frame text as stored, the NUL included.
    const QString nul(QChar(0));
    const struct {
        const char* file;
        const char* title;
        const char* artist;
        const char* album;
        std::optional<int> year;
        QString genre;
    } cases[] = {
        {"tagged.mp3", "Fixture Title", "Fixture Artist", "Fixture Album", 1987, "House" + nul},
        {"tagged.flac", "Fixture Title", "Fixture Artist", "Fixture Album", 1987, "House"},
        {"tagged.m4a", "Fixture Title", "Fixture Artist", "Fixture Album", 1987, "House"},
        {"tagged.aac", "Fixture Title", "Fixture Artist", "Fixture Album", 1987, "House"},
        {"tagged.aiff", "Fixture Title", "Fixture Artist", "Fixture Album", 1987, "House" + nul},
        {"tagged.aif", "Fixture Title", "Fixture Artist", "Fixture Album", 1987, "House" + nul},
        {"tagged.wav", "Fixture Title", "Fixture Artist", "Fixture Album", 1987, "House"},
        {"tagged.ogg", "Fixture Title", "Fixture Artist", "Fixture Album", 1987, "House"},
        {"tagged.opus", "Fixture Title", "Fixture Artist", "Fixture Album", 1987, "House"},
        {"tagged.wma", "Fixture Title", "Fixture Artist", "Fixture Album", std::nullopt, "House"},
        {"UPPER.MP3", "Upper Case", "", "", std::nullopt, ""},
        {"Track.FLAC", "Mixed Case", "Fixture Artist", "", std::nullopt, ""},
        {"title_only.mp3", "Only A Title", "", "", std::nullopt, ""},
        {"untagged.mp3", "", "", "", std::nullopt, ""},
        {"blank_title.mp3", "   ", "Fixture Artist", "", std::nullopt, ""},
        {"no_extension", "", "", "", std::nullopt, ""},
        // Our own handler's genre is taken raw, references and all.
        {"genre_ref.mp3", "Genre Ref", "", "", std::nullopt, "(17)" + nul},
        // "gnre" 18 through the MP4 handler's ID3v1 names.
        {"gnre.m4a", "Gnre Number", "", "", std::nullopt, "Rock"},
    };
    const UniversalTagReader reader;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const TagData tags = reader.readTags(scan(QLatin1String(c.file)));
        EXPECT_EQ(tags.title, QString::fromUtf8(c.title));
        EXPECT_EQ(tags.artist, QString::fromUtf8(c.artist));
        EXPECT_EQ(tags.album, QString::fromUtf8(c.album));
        EXPECT_EQ(tags.year, c.year);
        EXPECT_EQ(tags.genre, c.genre);
        EXPECT_GT(tags.duration, 0.05);
        EXPECT_LT(tags.duration, 0.5);
        EXPECT_FALSE(tags.wasAutoFixed);
    }
}

// TagLib reports the TDRC year; our own handler takes the first year frame.
TEST(UniversalTagReader, OwnYearTagWinsOverTheMediaLayer) {
    const QString path = scan(QStringLiteral("year_mismatch.mp3"));
    const TagLib::FileRef ref(QFile::encodeName(path).constData());
    ASSERT_FALSE(ref.isNull());
    ASSERT_EQ(ref.tag()->year(), 2005u);
    EXPECT_EQ(UniversalTagReader().readTags(path).year, 1987);
}

// A missing file is not found (and not logged as read); a file TagLib cannot
// open fails to load, and the debug log names the category and the file.
TEST(UniversalTagReader, MissingAndUnreadableFilesFail) {
    LogCapture log;
    QTemporaryDir dir;
    expectThrows(AppError::Kind::fileNotFound,
                 [&] { UniversalTagReader().readTags(dir.filePath("gone.mp3")); });
    EXPECT_TRUE(log.entries().isEmpty());
    expectThrows(AppError::Kind::tagReadFailed,
                 [&] { UniversalTagReader().readTags(scan(QStringLiteral("not_audio.mp3"))); });
    EXPECT_EQ(log.entries(), QStringList({"FILE |READ: not_audio.mp3"}));
}

TEST(UniversalTagReader, RepairArtistTitle) {
    const struct {
        const char* artist;
        const char* title;
        const char* newArtist;
        const char* newTitle;
        bool fixed;
    } cases[] = {
        {"01", "Some Artist - Some Title", "Some Artist", "Some Title", true},
        {"01", "A - B - C", "A", "B - C", true},
        {" 42 ", "  A  -  B  ", "A", "B", true},
        {"01", " - B", "01", " - B", false},
        {"01", "A - ", "01", "A - ", false},
        {"01", "   - B", "01", "   - B", false},
        {"01", "A \u2013 B", "01", "A \u2013 B", false},
        {"01", "A-B", "01", "A-B", false},
        {"1A", "A - B", "1A", "A - B", false},
        {"", "A - B", "", "A - B", false},
        {"  ", "A - B", "  ", "A - B", false},
    };
    for (const auto& c : cases) {
        TagData record;
        record.artist = QString::fromUtf8(c.artist);
        record.title = QString::fromUtf8(c.title);
        UniversalTagReader::repairArtistTitle(record, QStringLiteral("/music/x.mp3"));
        EXPECT_EQ(record.artist, QString::fromUtf8(c.newArtist)) << c.artist << " / " << c.title;
        EXPECT_EQ(record.title, QString::fromUtf8(c.newTitle)) << c.artist << " / " << c.title;
        EXPECT_EQ(record.wasAutoFixed, c.fixed) << c.artist << " / " << c.title;
    }
}
