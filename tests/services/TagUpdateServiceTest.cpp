#include "services/TagUpdateService.h"

#include "FakeTagWriter.h"
#include "QtPrinters.h"
#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppError.h"
#include "model/AppSettings.h"
#include "services/FileScannerService.h"
#include "services/WriteUndoManager.h"
#include "tagio/UniversalTagReader.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <fcntl.h>
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

TEST_F(TagUpdateServiceTest, ComposesTheLabelWithTheCleanedGenre) {
    const QString nul(QChar(0));
    const struct {
        QString genre;
        const char* url;
        bool mappings;
        std::optional<QString> discovered;
        bool overwrite;
        const char* written; // nullptr: skipped, already labelled
        bool decade = true;
        std::optional<int> manual = {}; // typed; wins over the looked-up 1987
    } cases[] = {
        {"80er", "a.mp3", true, {}, false, "80er"}, // a lone label without a year tag is replaced
        {"House 70er", "a.mp3", true, {}, false, nullptr},
        {"  dnb ", "a.mp3", true, {}, false, "Drum & Bass 80er"},
        {"  dnb ", "a.mp3", false, {}, false, "dnb 80er"},
        {"Deep House", "a.mp3", true, "house", false, "Deep House 80er"},
        {"Soul", "a.mp3", true, "funk", false, "Soul Funk 80er"},
        {"", "a.mp3", true, "funk", false, "Funk 80er"},
        {"Soul", "a.mp3", true, "funk", true, "Funk 80er"},
        {"House", "a.mp3", true, "  ", true, "House 80er"}, // a blank discovered genre never wipes the file's own
        {"Rock" + nul + "Pop" + nul, "a.mp3", false, {}, false, "Rock / Pop 80er"},
        {"(17)", "a.mp3", false, {}, false, "Rock 80er"},
        {"17", "a.wav", false, {}, false, "Rock 80er"},
        {"17", "a.flac", false, {}, false, "17 80er"}, // only ID3 genres are numeric references
        {"House", "a.mp3", true, {}, false, "House 90er", true, 1995},
        {"House 80er", "a.mp3", false, "funk", false, "House funk", false}, // the old label goes
    };
    for (const auto& c : cases) {
        settings.applyGenreMappings = c.mappings;
        settings.enableGenreLookup = c.discovered.has_value();
        settings.genreOverwriteExisting = c.overwrite;
        settings.writeDecadeToGenre = c.decade;
        MusicFile file = makeFile(c.genre, {}, 1987, QStringLiteral("/music/") + QLatin1String(c.url));
        file.discoveredGenre = c.discovered;
        file.manualYear = c.manual;
        const qsizetype entries = undo.entries().size();
        const Result r = update(file);
        EXPECT_TRUE(r.success) << c.genre.toStdString();
        EXPECT_EQ(r.writtenGenre, c.written ? std::optional(QString::fromUtf8(c.written)) : std::nullopt);
        // The year sheet's preview foretells exactly this write.
        const TagUpdateService::GenrePlan plan = TagUpdateService::plannedGenre(file, settings);
        EXPECT_EQ(plan.genre, r.writtenGenre) << c.genre.toStdString();
        EXPECT_EQ(plan.label.has_value(), !c.written);
        EXPECT_EQ(undo.entries().size(), entries + (c.written ? 1 : 0));
        if (c.written) {
            EXPECT_EQ(last().year, c.manual.value_or(1987));
            EXPECT_EQ(undo.entries().last().originalGenre, c.genre); // the undo keeps the raw text
        }
    }
}

// A looked-up genre no mapping knows is added once, capitalised, to the saved mappings.
TEST_F(TagUpdateServiceTest, AddsAnUnknownGenreAsASavedMapping) {
    QTemporaryDir dir;
    AppSettings target(std::make_unique<SettingsStore>(dir.filePath("settings.json")));
    const TagUpdateService adding(writer, &undo, &target);
    settings.enableGenreLookup = settings.autoAddGenreMappings = true;
    MusicFile file = makeFile("House", {}, 1987);
    file.discoveredGenre = QStringLiteral(" acid ");
    const auto snapshot = std::make_shared<const SettingsSnapshot>(settings);
    EXPECT_EQ(adding.updateFile(file, [snapshot] { return snapshot; }).writtenGenre, "House Acid 80er");
    QCoreApplication::processEvents();
    const QList<GenreMapping> saved =
        AppSettings(std::make_unique<SettingsStore>(dir.filePath("settings.json"))).genreMappings();
    ASSERT_EQ(saved.size(), settings.genreMappings.size() + 1);
    EXPECT_EQ(QStringList({saved.last().source, saved.last().target}), QStringList({"acid", "Acid"}));
}

// Repaired names are written only with the repair on, and the undo keeps the old ones.
TEST_F(TagUpdateServiceTest, WritesRepairedNamesOnlyWhenAsked) {
    MusicFile fixed = makeFile("House", {}, 1987);
    fixed.title = QStringLiteral("Some Title");
    fixed.artist = QStringLiteral("Some Artist");
    fixed.wasAutoFixed = true;
    writer->setTitleArtist(fixed.url, {QStringLiteral("Some Artist - Some Title"), QStringLiteral("01")});
    update(fixed);
    EXPECT_EQ(last().title, std::nullopt); // the repair is off
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

// A file without a year is not written. A failed write keeps its entry marked
// not written; a read-back that differs or fails is a failure, though the undo
// keeps the written file.
TEST_F(TagUpdateServiceTest, FailedAndUnverifiedWritesAreReported) {
    EXPECT_FALSE(update(makeFile("House", {}, {})).success);
    EXPECT_TRUE(writer->calls().isEmpty() && undo.isEmpty());
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
        EXPECT_EQ(undo.entries().last().written, c.written) << c.url;
    }
    EXPECT_EQ(update(makeFile("House", {}, 1987, "/music/a.ogg")).errorMessage,
              AppError::unsupportedFormat("ogg").errorDescription());
    EXPECT_TRUE(update(makeFile("Soul", {}, 1987, "/music/ok.mp3")).success);
    EXPECT_TRUE(undo.entries().last().written);
}

// The one end-to-end loop over the seven writable formats: scan, write, read
// back through our reader and TagLib, undo, and the audio never changes.
TEST(TagUpdateServiceEndToEndTest, WriteReadBackAndUndoEveryWritableFormat) {
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

// The scan's identity travels with the row: a path swapped for a link or changed by another
// program after the scan (in place, also keeping the modification time or its second) is refused
// and left as it is, a link the user dropped is followed, and undo refuses a file changed since
// its write and counts it as failed.
TEST(TagUpdateServiceEndToEndTest, AFileThatIsNoLongerWhatTheScanSawIsLeftAlone) {
    QTemporaryDir dir;
    const QString outside = dir.filePath(QStringLiteral("outside.mp3"));
    const QString path = dir.filePath(QStringLiteral("song.mp3"));
    const QString link = dir.filePath(QStringLiteral("dropped.mp3"));
    const QByteArray original = TestFiles::readFile(TestFiles::fixturePath("scan/tagged.mp3"));
    const QByteArray edited = "ID3 edited by another program";
    // Another program's edit in place that keeps the modification time (or only its second).
    const auto editKeepingTime = [&](const QByteArray& bytes, bool nanosecondChanged) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        TestFiles::writeFile(path, bytes);
        timespec times[2] = {st.st_atim, st.st_mtim};
        times[1].tv_nsec ^= nanosecondChanged ? 1 : 0;
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    };
    QByteArray sameSize = original;
    sameSize[sameSize.size() - 1] = char(~sameSize.back());
    const struct {
        const char* name;
        QString scanned; // the path the row is read from
        std::function<void()> afterScan, afterWrite;
        bool written, undone;
    } cases[] = {
        {"unchanged", path, [] {}, [] {}, true, true},
        {"changed by another program", path, [&] { TestFiles::writeFile(path, edited); }, [] {}, false,
         false},
        {"grown, time kept", path, [&] { editKeepingTime(original + "more", false); }, [] {}, false, false},
        {"same size, changed within the second", path, [&] { editKeepingTime(sameSize, true); }, [] {}, false,
         false},
        {"dropped link", link, [] {}, [] {}, true, true},
        {"changed after the write", path, [] {}, [&] { TestFiles::writeFile(path, edited); }, true, false},
        {"link swapped in (last: it leaves the link)", path,
         [&] { QFile::remove(path) && QFile::link(outside, path); }, [] {}, false, false},
    };
    const auto settings = std::make_shared<const SettingsSnapshot>(SettingsSnapshot::defaults());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestFiles::writeFile(outside, original);
        TestFiles::writeFile(path, original);
        QFile::link(outside, link);
        WriteUndoManager undo;
        undo.setPendingNewSession(true);
        TagUpdateService service(std::make_shared<UniversalTagWriter>(), &undo);
        std::optional<MusicFile> file = FileScannerService().readFile(c.scanned, UniversalTagReader());
        ASSERT_TRUE(file.has_value());
        EXPECT_TRUE(file->identity->inodeKept); // a test folder is never on FAT
        file->discoveredYear = 1995;
        c.afterScan();
        const QByteArray before = TestFiles::readFile(c.scanned);
        const Result result = service.updateFile(*file, [settings] { return settings; });
        EXPECT_EQ(result.success, c.written) << result.errorMessage.value_or(QString()).toStdString();
        EXPECT_EQ(TestFiles::readFile(c.scanned) == before, !c.written);
        EXPECT_EQ(TestFiles::readFile(outside) == original, c.scanned != link);
        c.afterWrite();
        const QByteArray written = TestFiles::readFile(c.scanned);
        const WriteUndoManager::UndoResult undone = undo.undoLastSession(*service.writer());
        EXPECT_EQ(undone.restored, c.undone ? 1 : 0);
        EXPECT_EQ(undone.failed, c.written && !c.undone ? 1 : 0);
        EXPECT_EQ(TestFiles::readFile(c.scanned) == written, !c.undone);
        EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
    }
}
