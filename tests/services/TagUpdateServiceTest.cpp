#include "services/TagUpdateService.h"

#include "FakeTagWriter.h"
#include "QtPrinters.h"
#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "services/FileScannerService.h"
#include "services/WriteUndoManager.h"
#include "tagio/UniversalTagReader.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Result = TagUpdateService::UpdateResult;

MusicFile makeFile(const QString& genre, std::optional<int> year, std::optional<int> discovered,
                   const QString& url = QStringLiteral("/music/track.mp3")) {
    MusicFile file = musicFile(QStringLiteral("Title"), QStringLiteral("Artist"), year, genre, url);
    file.discoveredYear = discovered;
    return file;
}

class TagUpdateServiceTest : public ::testing::Test {
protected:
    Result update(const MusicFile& file) {
        const auto snapshot = std::make_shared<const SettingsSnapshot>(settings);
        return service.updateFile(file, [snapshot] { return snapshot; });
    }
    FakeTagWriter::Call last() const { return writer->calls().value(writer->calls().size() - 1); }

    SettingsSnapshot settings = SettingsSnapshot::defaults();
    std::shared_ptr<FakeTagWriter> writer = std::make_shared<FakeTagWriter>();
    WriteUndoManager undo;
    TagUpdateService service{writer, &undo};
};

} // namespace

TEST_F(TagUpdateServiceTest, SkipsWhatIsLabelledAndFailsWithoutAYear) {
    for (const MusicFile& labelled : {makeFile("House 80er", 1985, {}), makeFile("House 70er", {}, 1983)}) {
        const Result r = update(labelled);
        EXPECT_TRUE(r.success);
        EXPECT_EQ(r.writtenGenre, std::nullopt);
    }
    const Result noYear = update(makeFile("House", {}, {}));
    EXPECT_FALSE(noYear.success);
    EXPECT_TRUE(noYear.errorMessage.has_value());
    EXPECT_TRUE(writer->calls().isEmpty());
    EXPECT_TRUE(undo.isEmpty());
}

TEST_F(TagUpdateServiceTest, ComposesTheLabelWithTheCleanedGenre) {
    const QString nul(QChar(0));
    const struct {
        QString genre;
        const char* url;
        bool mappings;
        std::optional<QString> discovered;
        bool overwrite;
        const char* written;
    } cases[] = {
        {"80er", "a.mp3", true, {}, false, "80er"}, // a lone label without a year tag is replaced
        {"  dnb ", "a.mp3", true, {}, false, "Drum & Bass 80er"},
        {"  dnb ", "a.mp3", false, {}, false, "dnb 80er"},
        {"Deep House", "a.mp3", true, "house", false, "Deep House 80er"},
        {"Soul", "a.mp3", true, "funk", false, "Soul Funk 80er"},
        {"", "a.mp3", true, "funk", false, "Funk 80er"},
        {"Soul", "a.mp3", true, "funk", true, "Funk 80er"},
        {"House", "a.mp3", true, "  ", true, "House 80er"}, // a blank discovered genre never wipes the file's own
        {"House", "a.mp3", true, "", true, "House 80er"},
        {"Rock" + nul, "a.mp3", false, {}, false, "Rock 80er"},
        {"Rock" + nul + "Pop" + nul, "a.mp3", false, {}, false, "Rock / Pop 80er"},
        {"(17)", "a.mp3", false, {}, false, "Rock 80er"},
        {"17", "a.wav", false, {}, false, "Rock 80er"},
        {"17", "a.flac", false, {}, false, "17 80er"}, // only ID3 genres are numeric references
    };
    for (const auto& c : cases) {
        settings.applyGenreMappings = c.mappings;
        settings.enableGenreLookup = c.discovered.has_value();
        settings.genreOverwriteExisting = c.overwrite;
        MusicFile file = makeFile(c.genre, {}, 1987, QStringLiteral("/music/") + QLatin1String(c.url));
        file.discoveredGenre = c.discovered;
        EXPECT_EQ(update(file).writtenGenre, QString::fromUtf8(c.written)) << c.genre.toStdString();
        EXPECT_EQ(undo.entries().last().originalGenre, c.genre); // the undo keeps the raw text
    }
}

TEST_F(TagUpdateServiceTest, WritesTheYearAndRepairedNamesOnlyWhenTheyChange) {
    update(makeFile("House", 1987, {}));
    EXPECT_EQ(last().year, std::nullopt); // the file's own year is not written again
    EXPECT_FALSE(undo.entries().last().yearWritten);
    MusicFile manual = makeFile("House", 1995, 1987);
    update(manual);
    EXPECT_EQ(last().year, 1987);
    EXPECT_EQ(undo.entries().last().originalYear, 1995);
    EXPECT_TRUE(undo.entries().last().yearWritten);
    manual.manualYear = 1995;
    update(manual);
    EXPECT_EQ(last().year, std::nullopt);
    update(makeFile("House", {}, 1987));
    EXPECT_EQ(undo.entries().last().originalYear, std::nullopt);

    MusicFile fixed = makeFile("House", {}, 1987);
    fixed.title = QStringLiteral("Some Title");
    fixed.artist = QStringLiteral("Some Artist");
    fixed.wasAutoFixed = true;
    writer->setTitleArtist(fixed.url, {QStringLiteral("Some Artist - Some Title"), QStringLiteral("01")});
    update(fixed);
    EXPECT_EQ(last().title, std::nullopt);
    settings.repairBrokenTagStructure = true;
    update(fixed);
    EXPECT_EQ(last().title, QStringLiteral("Some Title"));
    EXPECT_EQ(last().artist, QStringLiteral("Some Artist"));
    EXPECT_EQ(undo.entries().last().originalTitle, QStringLiteral("Some Artist - Some Title"));
    EXPECT_EQ(undo.entries().last().originalArtist, QStringLiteral("01"));
    fixed.wasAutoFixed = false;
    update(fixed);
    EXPECT_EQ(last().title, std::nullopt);
    EXPECT_EQ(undo.entries().last().originalTitle, std::nullopt);
}

// A failed write keeps its entry marked not written; a read-back that differs
// or fails is a failure, though the undo keeps the written file.
TEST_F(TagUpdateServiceTest, FailedAndUnverifiedWritesAreReported) {
    writer->failWritesTo("/music/locked.mp3");
    writer->storeAs("/music/differs.mp3", QStringLiteral("House"));
    writer->failReadsOf("/music/unreadable.mp3");
    const struct {
        const char* url;
        bool written;
    } cases[] = {{"/music/locked.mp3", false}, {"/music/a.ogg", false}, {"/music/differs.mp3", true},
                 {"/music/unreadable.mp3", true}};
    for (const auto& c : cases) {
        const Result r = update(makeFile("House", {}, 1987, QLatin1String(c.url)));
        EXPECT_FALSE(r.success) << c.url;
        EXPECT_TRUE(r.errorMessage.has_value()) << c.url;
        EXPECT_EQ(undo.entries().last().written, c.written) << c.url;
    }
    EXPECT_EQ(update(makeFile("House", {}, 1987, "/music/a.ogg")).errorMessage, AppError::unsupportedFormat("ogg").errorDescription());
    EXPECT_TRUE(update(makeFile("Soul", {}, 1987, "/music/ok.mp3")).success);
    EXPECT_TRUE(undo.entries().last().written);
}

// The one end-to-end loop over the seven writable formats: scan, write, read
// back through our reader and TagLib, undo, and the audio never changes.
TEST(TagUpdateServiceEndToEnd, WriteReadBackAndUndoEveryWritableFormat) {
    QTemporaryDir dir;
    WriteUndoManager undo;
    TagUpdateService service(std::make_shared<UniversalTagWriter>(), &undo);
    const UniversalTagReader reader;
    const auto settings = std::make_shared<const SettingsSnapshot>(SettingsSnapshot::defaults());
    struct Copy {
        QString path;
        AudioFormat format;
        QByteArray audio;
        TagData before;
    };
    QList<Copy> copies;
    undo.setPendingNewSession(true);
    for (const TagProbe::FormatCase& c : TagProbe::writableFormats) {
        SCOPED_TRACE(c.copyName);
        const QString path = TestFiles::copyFixture(c.fixture, dir, c.copyName);
        std::optional<MusicFile> file = FileScannerService().readFile(path, reader);
        ASSERT_TRUE(file.has_value());
        ASSERT_EQ(file->format, c.format);
        ASSERT_EQ(file->year, 1987);
        copies.append({path, c.format, TagProbe::audioPayload(path, c.format), reader.readTags(path)});
        file->discoveredYear = 1995;
        EXPECT_EQ(service.updateFile(*file, [settings] { return settings; }).writtenGenre, QStringLiteral("House 90er"));
        const TagData after = reader.readTags(path);
        EXPECT_EQ(QStringList({after.genre, QString::number(after.year.value_or(0)), after.title}),
                  QStringList({"House 90er", "1995", copies.last().before.title}));
        const auto seen = TagProbe::properties(path, c.format);
        EXPECT_EQ(seen.value("GENRE") + seen.value("DATE"), QStringList({"House 90er", "1995"}));
    }
    const WriteUndoManager::UndoResult result = undo.undoLastSession(*service.writer());
    EXPECT_EQ(std::make_pair(result.restored, result.failed), std::make_pair(7, 0));
    for (const Copy& copy : copies) {
        SCOPED_TRACE(copy.path.toStdString());
        const TagData restored = reader.readTags(copy.path);
        EXPECT_EQ(QStringList({restored.genre, restored.title, restored.artist, restored.album}),
                  QStringList({copy.before.genre, copy.before.title, copy.before.artist, copy.before.album}));
        EXPECT_EQ(restored.year, copy.before.year);
        const auto seen = TagProbe::properties(copy.path, copy.format);
        EXPECT_EQ(seen.value("GENRE") + seen.value("DATE"), QStringList({"House", "1987"}));
        EXPECT_EQ(TagProbe::audioPayload(copy.path, copy.format), copy.audio);
    }
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
}
