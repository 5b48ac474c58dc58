#include "tagio/UniversalTagReader.h"

#include "QtPrinters.h"
#include "TestFiles.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

using UniversalTagReaderFormatTest = ::testing::TestWithParam<const char*>;

TEST_P(UniversalTagReaderFormatTest, ReadsTheTaggedFixture) {
    const char* ext = GetParam();
    const TagData tags = UniversalTagReader().readTags(TestFiles::fixturePath(QStringLiteral("scan/tagged.") + ext));
    EXPECT_EQ(QStringList({tags.title, tags.artist, tags.album}),
              QStringList({"Fixture Title", "Fixture Artist", "Fixture Album"}));
    EXPECT_EQ(tags.year, QString(ext) == "wma" ? std::nullopt : std::optional<int>(1987));
    EXPECT_EQ(tags.genre, "House"); // without the NUL that ffmpeg ends an ID3 text with
    EXPECT_GT(tags.duration, 0.05);
    EXPECT_LT(tags.duration, 0.5);
}
INSTANTIATE_TEST_SUITE_P(, UniversalTagReaderFormatTest,
                         ::testing::Values("mp3", "flac", "m4a", "aac", "aiff", "aif", "wav", "ogg", "opus", "wma"),
                         RowName());

TEST(UniversalTagReaderTest, OddNamesTerminatorsAndMissingOrBrokenFiles) {
    const QString nul(QChar(0));
    const auto read = [](const QString& name) {
        return UniversalTagReader().readTags(TestFiles::fixturePath("scan/" + name));
    };
    const struct {
        const char* file;
        const char* title;
        const char* artist;
        QString genre;
    } cases[] = {
        {"UPPER.MP3", "Upper Case", "", ""}, {"Track.FLAC", "Mixed Case", "Fixture Artist", ""},
        {"untagged.mp3", "", "", ""}, {"no_extension", "", "", ""},
        {"blank_title.mp3", "   ", "Fixture Artist", ""},
        {"genre_ref.mp3", "Genre Ref", "", "(17)"}, // references kept raw
        {"gnre.m4a", "Gnre Number", "", "Rock"},   // "gnre" 18 through the ID3v1 names
        // A NUL at the end is a terminator: "80er\0" is the bare label, not other text with one.
        {"../id3/nul_end_v23.mp3", "Terminated", "", "80er"}, {"../flac/nul_end.flac", "Terminated", "", "80er"},
        {"../mp4/nul_end.m4a", "Terminated", "", "80er"},
        {"../id3/nul_end_v24.mp3", "Terminated", "", "Rock" + nul + "Pop"}, // the separator stays
    };
    for (const auto& c : cases) {
        const TagData tags = read(QLatin1String(c.file));
        const QStringList want{c.title, c.artist, c.genre};
        EXPECT_EQ(QStringList({tags.title, tags.artist, tags.genre}), want) << c.file;
        EXPECT_FALSE(tags.wasAutoFixed) << c.file;
    }
    // A TDRC frame says 2005 (as TagLib reports it); our own handler takes the first year frame.
    EXPECT_EQ(read("year_mismatch.mp3").year, 1987);
    expectThrows(AppError::Kind::fileNotFound, [&] { read("gone.mp3"); });
    expectThrows(AppError::Kind::tagReadFailed, [&] { read("not_audio.mp3"); });
}

TEST(UniversalTagReaderTest, RepairArtistTitle) {
    const struct {
        const char* artist;
        const char* title;
        const char* newArtist; // "" when nothing changes
        const char* newTitle;
    } cases[] = {
        {"01", "Some Artist - Some Title", "Some Artist", "Some Title"},
        {"01", "A - B - C", "A", "B - C"},
        {" 42 ", "  A  -  B  ", "A", "B"},
        {"01", " - B", "", ""}, {"01", "A - ", "", ""}, {"01", "A \u2013 B", "", ""}, {"01", "A-B", "", ""},
        {"1A", "A - B", "", ""}, {"", "A - B", "", ""}, {"  ", "A - B", "", ""},
    };
    for (const auto& c : cases) {
        TagData record{QString::fromUtf8(c.title), QString::fromUtf8(c.artist), {}, {}, {}, 0.0, false};
        UniversalTagReader::repairArtistTitle(record, QStringLiteral("/music/x.mp3"));
        const bool fixed = *c.newArtist != '\0';
        EXPECT_EQ(record.artist, QString::fromUtf8(fixed ? c.newArtist : c.artist)) << c.title;
        EXPECT_EQ(record.title, QString::fromUtf8(fixed ? c.newTitle : c.title)) << c.title;
        EXPECT_EQ(record.wasAutoFixed, fixed) << c.title;
    }
}
