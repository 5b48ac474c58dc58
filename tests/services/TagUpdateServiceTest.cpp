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
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

using Entry = WriteUndoManager::UndoEntry;

Entry entry(const QString& url, const QString& genre, std::optional<int> year = {}, bool yearWritten = false) {
    Entry e;
    e.url = url;
    e.format = AudioFormat::mp3;
    e.originalGenre = genre;
    e.originalYear = year;
    e.yearWritten = yearWritten;
    return e;
}

// Records an entry and marks it written, as a successful update does.
void recordWritten(WriteUndoManager& undo, const Entry& e) {
    undo.markWritten(undo.recordEntry(e));
}

QStringList urls(const QList<Entry>& entries) {
    QStringList out;
    for (const Entry& e : entries) {
        out.append(e.url);
    }
    return out;
}

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

// The scan's identity travels with the row: a path swapped for a link or changed by another
// program after the scan is refused and left as it is, a link the user dropped is followed,
// and undo refuses a file changed since its write.
TEST(TagUpdateServiceEndToEnd, AFileThatIsNoLongerWhatTheScanSawIsLeftAlone) {
    QTemporaryDir dir;
    const QString outside = dir.filePath(QStringLiteral("outside.mp3"));
    const QString path = dir.filePath(QStringLiteral("song.mp3"));
    const QString link = dir.filePath(QStringLiteral("dropped.mp3"));
    const QByteArray original = TestFiles::readFile(TestFiles::fixturePath("scan/tagged.mp3"));
    const QByteArray edited = "ID3 edited by another program";
    const struct {
        const char* name;
        QString scanned; // the path the row is read from
        std::function<void()> afterScan, afterWrite;
        bool written, undone;
    } cases[] = {
        {"unchanged", path, [] {}, [] {}, true, true},
        {"changed by another program", path, [&] { TestFiles::writeFile(path, edited); }, [] {}, false, false},
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
        EXPECT_EQ(TestFiles::readFile(c.scanned) == written, !c.undone);
        EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
    }
}

// Supported extensions in any case, never a symbolic link (a link back to the
// root would never end), and a missing folder or a file as the root is not found.
TEST(FileScannerService, ListsSupportedFilesOnly) {
    QTemporaryDir dir;
    const QDir root(dir.path());
    const QStringList audio = {"a.mp3", "b.MP3", "c.Flac", "d.m4a",  "e.AAC", "f.aiff", "g.aif",
                               "h.wav", "i.ogg", "j.opus", "k.WMA", "music/real.mp3", "name.with.dots.mp3"};
    for (const char* other : {"cover.jpg", "notes.txt", "no_extension", "list.m3u", "trailing.", "x.mp3.bak"}) {
        ASSERT_TRUE(QFile::copy(TestFiles::fixturePath("scan/untagged.mp3"), root.filePath(other)));
    }
    ASSERT_TRUE(root.mkpath("music") && root.mkpath("folder.mp3"));
    for (const QString& name : audio) {
        ASSERT_TRUE(QFile::copy(TestFiles::fixturePath("scan/untagged.mp3"), root.filePath(name)));
    }
    ASSERT_TRUE(QFile::link(root.filePath("music/real.mp3"), root.filePath("music/link.mp3")));
    ASSERT_TRUE(QFile::link(root.path(), root.filePath("music/loop")));
    ASSERT_TRUE(QFile::link(root.filePath("missing"), root.filePath("dangling.mp3")));
    QStringList found;
    for (const QString& p : FileScannerService().scanDirectory(root.path())) {
        found.append(root.relativeFilePath(p));
    }
    EXPECT_EQ(found, audio);
    for (const QString& target : {root.filePath("nothing"), root.filePath("a.mp3")}) {
        expectThrows(AppError::Kind::fileNotFound, [&] { FileScannerService().scanDirectory(target); });
    }
}

// A Latin-1 "Café.mp3" is reported and counted instead of vanishing; a valid name beside it reads.
TEST(FileScannerNames, NameThatIsNotUtf8IsListedAndFailsItsRead) {
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray mp3 = TestFiles::readFile(TestFiles::fixturePath("scan/tagged.mp3"));
    for (const QByteArray& name : {QByteArray("Caf\xe9.mp3"), QByteArray("Caf\xc3\xa9.mp3")}) {
        const int fd = ::open((folder + '/' + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, mp3.constData(), size_t(mp3.size())), ssize_t(mp3.size()));
        ::close(fd);
    }
    ASSERT_EQ(::mkdir((folder + "/Caf\xe9").constData(), 0700), 0); // a folder it cannot enter is reported
    QStringList unreadable;
    const QStringList found = FileScannerService().scanDirectory(dir.path(), &unreadable);
    EXPECT_EQ(unreadable, QStringList{dir.filePath(QStringLiteral("Caf\uFFFD"))});
    ASSERT_EQ(found.size(), 2);
    EXPECT_NE(FileScannerService().readFile(found[0], UniversalTagReader()), std::nullopt); // "Café.mp3"
    EXPECT_EQ(FileScannerService().readFile(found[1], UniversalTagReader()), std::nullopt); // "Caf\uFFFD.mp3"
}

// Newest first, so a file written twice gets its first value back; only what
// the write changed is restored, and a failed undo is not kept for a retry.
TEST(WriteUndoManager, UndoGoesNewestFirstAndRestoresOnlyWhatTheWriteChanged) {
    WriteUndoManager undo;
    recordWritten(undo, entry("/y/song.mp3", "House", 1987, false));
    recordWritten(undo, entry("/y/changed-year.mp3", "B", 1995, true));
    recordWritten(undo, entry("/y/no-year-before.mp3", "C", std::nullopt, true));
    Entry repaired = entry("/y/repaired.mp3", "D");
    repaired.originalTitle = QStringLiteral("Some Artist - Some Title");
    repaired.originalArtist = QStringLiteral("01");
    recordWritten(undo, repaired);
    undo.recordEntry(entry("/y/never-written.ogg", "Rock")); // its write failed
    recordWritten(undo, entry("/y/locked.mp3", "Jazz"));
    recordWritten(undo, entry("/y/song.mp3", "House 80er"));
    FakeTagWriter writer;
    writer.failWritesTo("/y/locked.mp3");
    const WriteUndoManager::UndoResult result = undo.undoLastSession(writer);
    EXPECT_EQ(std::make_pair(result.restored, result.failed), std::make_pair(5, 1));
    EXPECT_EQ(result.restoredEntries.first().originalGenre, QStringLiteral("House 80er"));
    QStringList calls;
    for (const FakeTagWriter::Call& c : writer.calls()) {
        calls.append(QStringLiteral("%1 %2 %3 %4 %5")
                         .arg(c.path, c.genre, c.year ? QString::number(*c.year) : "-", c.title.value_or("-"),
                              c.artist.value_or("-")));
    }
    EXPECT_EQ(calls, QStringList({"/y/song.mp3 House 80er - - -", "/y/locked.mp3 Jazz - - -",
                                  "/y/repaired.mp3 D - Some Artist - Some Title 01",
                                  "/y/no-year-before.mp3 C - - -", "/y/changed-year.mp3 B 1995 - -",
                                  "/y/song.mp3 House - - -"}));
    const WriteUndoManager::UndoResult second = undo.undoLastSession(writer);
    EXPECT_EQ(second.restored + second.failed, 0);
}

// A session script of steps split by blanks: operation, session, path. 'o'
// opens session `s`; 'r' records the path written for session `s` ('-' for an
// entry without a session id); 'n' records for no session id without marking
// it, 'k' marks that entry later; 'p' asks for a new session at the next entry;
// 'u' undoes session `s`, 'U' the last one. '0' is no session.
TEST(WriteUndoManager, SessionsKeepTheirEntriesApart) {
    const struct {
        const char* name;
        const char* script;
        QStringList entries; // the log afterwards
        int restored;        // by all undo steps together
        char current;        // the current session afterwards ('?': not checked)
    } cases[] = {
        {"a pending session starts at its first entry", "r-/a1 r-/a2 p r-/b1 r-/b2", {"/b1", "/b2"}, 0, '?'},
        {"a pending session without writes leaves the last run to undo", "r-/a1 p U", {}, 1, '?'},
        {"an opened session's first entry empties the log", "r-/old oa ra/a1 ra/a2", {"/a1", "/a2"}, 0, 'a'},
        {"a session that records nothing leaves the earlier one to undo", "oa ra/a1 ob ua", {}, 1, '0'},
        {"a late entry of a superseded session is dropped", "oa ra/a1 ob rb/b1 ra/a2", {"/b1"}, 0, 'b'},
        {"a session opened later replaces a pending one", "oa ob ra/a1 rb/b1", {"/b1"}, 0, 'b'},
        {"the undo of another session restores nothing", "oa ra/a1 ob rb/b1 ua u0", {"/b1"}, 0, 'b'},
        {"an entry after its session was undone is dropped", "oa ra/a1 ua ra/a2 ua", {}, 1, '0'},
        {"no session records nothing", "r0/x", {}, 0, '0'},
        {"an entry without an id joins the current session", "oa ra/a1 r-/l ua", {}, 2, '0'},
        {"an entry the undo took stays gone when marked; later ones start afresh", "r-/z1 n-/z2 U k r-/z3",
         {"/z3"}, 1, '?'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteUndoManager undo;
        FakeTagWriter writer;
        QHash<char, WriteUndoManager::SessionId> ids{{'0', 0}};
        WriteUndoManager::EntryId unmarked{};
        int restored = 0;
        for (const QString& step : QString::fromLatin1(c.script).split(' ')) {
            const char op = step[0].toLatin1();
            const char session = step.size() > 1 ? step[1].toLatin1() : '0';
            if (op == 'o') {
                ids.insert(session, undo.openSession());
            } else if (op == 'p') {
                undo.setPendingNewSession(true);
            } else if (op == 'n') {
                unmarked = undo.recordEntry(entry(step.mid(2), "G"));
            } else if (op == 'k') {
                undo.markWritten(unmarked);
            } else if (op == 'u' || op == 'U') {
                restored += (op == 'u' ? undo.undoLastSession(writer, ids.value(session))
                                       : undo.undoLastSession(writer))
                                .restored;
            } else if (session == '-') {
                recordWritten(undo, entry(step.mid(2), "G"));
            } else {
                undo.markWritten(undo.recordEntry(entry(step.mid(2), "G"), ids.value(session)));
            }
        }
        EXPECT_EQ(urls(undo.entries()), c.entries);
        for (const Entry& e : undo.entries()) {
            EXPECT_TRUE(e.written) << e.url.toStdString();
        }
        EXPECT_EQ(restored, c.restored);
        if (c.current != '?') {
            EXPECT_EQ(undo.currentSession(), ids.value(c.current));
        }
        EXPECT_EQ(writer.calls().size(), restored);
    }
}
