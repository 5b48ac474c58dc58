#include "services/TagUpdateService.h"

#include "FakeTagWriter.h"
#include "QtPrinters.h"
#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppSettings.h"
#include "services/FileScannerService.h"
#include "services/WriteUndoManager.h"
#include "tagio/UniversalTagReader.h"

#include <QCoreApplication>
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

// A service over a fake writer and its own undo log, with settings that the
// test changes before each update.
class TagUpdateServiceTest : public ::testing::Test {
protected:
    TagUpdateServiceTest() : settings(SettingsSnapshot::defaults()) {}

    Result update(const MusicFile& file) {
        const auto snapshot = std::make_shared<const SettingsSnapshot>(settings);
        return service.updateFile(file, [snapshot] { return snapshot; });
    }
    // The genre written by the last update.
    QString written() const { return writer->calls().isEmpty() ? QString() : writer->calls().last().genre; }

    SettingsSnapshot settings;
    std::shared_ptr<FakeTagWriter> writer = std::make_shared<FakeTagWriter>();
    WriteUndoManager undo;
    TagUpdateService service{writer, &undo};
};

} // namespace

TEST_F(TagUpdateServiceTest, SkipsWhatIsAlreadyLabelledAndFailsWithoutAYear) {
    const Result labelled = update(makeFile("House 80er", 1985, std::nullopt));
    EXPECT_TRUE(labelled.success);
    EXPECT_EQ(labelled.writtenGenre, std::nullopt);

    // Labelled with another decade than the year's: still skipped.
    EXPECT_TRUE(update(makeFile("House 70er", std::nullopt, 1983)).success);

    const Result noYear = update(makeFile("House", std::nullopt, std::nullopt));
    EXPECT_FALSE(noYear.success);
    EXPECT_EQ(noYear.errorMessage, QStringLiteral("Kein Jahrzehnt verfügbar (kein Jahr ermittelt)"));

    EXPECT_TRUE(writer->calls().isEmpty());
    EXPECT_TRUE(undo.isEmpty());
}

TEST_F(TagUpdateServiceTest, ComposesTheLabelWithTheCleanedGenre) {
    // A lone label without a year tag is not "already labelled": it is replaced.
    Result r = update(makeFile("80er", std::nullopt, 1987));
    EXPECT_TRUE(r.success);
    EXPECT_EQ(r.writtenGenre, QStringLiteral("80er"));

    // Mappings apply to the base genre.
    EXPECT_EQ(update(makeFile("  dnb ", std::nullopt, 1994)).writtenGenre,
              QStringLiteral("Drum & Bass 90er"));
    settings.applyGenreMappings = false;
    EXPECT_EQ(update(makeFile("  dnb ", std::nullopt, 1994)).writtenGenre, QStringLiteral("dnb 90er"));
}

TEST_F(TagUpdateServiceTest, DiscoveredGenreIsMergedOverwrittenOrIgnoredWhenBlank) {
    settings.enableGenreLookup = true;
    auto withDiscovered = [](QString genre, QString discovered) {
        MusicFile file = makeFile(genre, std::nullopt, 1985);
        file.discoveredGenre = discovered;
        return file;
    };
    EXPECT_EQ(update(withDiscovered("Deep House", "house")).writtenGenre, QStringLiteral("Deep House 80er"));
    EXPECT_EQ(update(withDiscovered("Soul", "funk")).writtenGenre, QStringLiteral("Soul Funk 80er"));
    EXPECT_EQ(update(withDiscovered("", "funk")).writtenGenre, QStringLiteral("Funk 80er"));

    settings.genreOverwriteExisting = true;
    EXPECT_EQ(update(withDiscovered("Soul", "funk")).writtenGenre, QStringLiteral("Funk 80er"));
    // A blank discovered genre is no genre: it must not wipe the file's own.
    EXPECT_EQ(update(withDiscovered("House", "  ")).writtenGenre, QStringLiteral("House 80er"));
    EXPECT_EQ(update(withDiscovered("House", "")).writtenGenre, QStringLiteral("House 80er"));
}

TEST_F(TagUpdateServiceTest, NulsAndNumericReferencesAreCleanedButTheUndoKeepsTheRawText) {
    settings.applyGenreMappings = false;
    EXPECT_EQ(update(makeFile(QStringLiteral("Rock") + QChar(u'\0'), std::nullopt, 1987)).writtenGenre,
              QStringLiteral("Rock 80er"));
    const QString multi = QStringLiteral("Rock") + QChar(u'\0') + QStringLiteral("Pop") + QChar(u'\0');
    EXPECT_EQ(update(makeFile(multi, std::nullopt, 1987)).writtenGenre, QStringLiteral("Rock / Pop 80er"));
    EXPECT_EQ(update(makeFile("(17)", std::nullopt, 1987)).writtenGenre, QStringLiteral("Rock 80er"));
    EXPECT_EQ(update(makeFile("17", std::nullopt, 1987, "/music/track.wav")).writtenGenre,
              QStringLiteral("Rock 80er"));
    // Only ID3 genres are numeric references; a FLAC genre "17" is text.
    EXPECT_EQ(update(makeFile("17", std::nullopt, 1987, "/music/track.flac")).writtenGenre,
              QStringLiteral("17 80er"));

    EXPECT_EQ(undo.entries().at(1).originalGenre, multi);
    EXPECT_EQ(undo.entries().at(2).originalGenre, QStringLiteral("(17)"));
}

TEST_F(TagUpdateServiceTest, TheFilesOwnYearIsNotWrittenAgain) {
    update(makeFile("House", 1987, std::nullopt));
    EXPECT_EQ(writer->calls().last().year, std::nullopt);
    EXPECT_FALSE(undo.entries().last().yearWritten);

    MusicFile manual = makeFile("House", 1995, 1987);
    update(manual);
    EXPECT_EQ(writer->calls().last().year, 1987);
    const WriteUndoManager::UndoEntry entry = undo.entries().last();
    EXPECT_EQ(entry.originalYear, 1995);
    EXPECT_TRUE(entry.yearWritten);

    manual.manualYear = 1995;
    update(manual);
    EXPECT_EQ(writer->calls().last().year, std::nullopt);

    // No year tag before: the entry holds none.
    update(makeFile("House", std::nullopt, 1987));
    EXPECT_EQ(undo.entries().last().originalYear, std::nullopt);
}

TEST_F(TagUpdateServiceTest, RepairedTitleAndArtistAreWrittenOnlyWhenAskedAndTheirOriginalsRecorded) {
    MusicFile file = makeFile("House", std::nullopt, 1987);
    file.title = QStringLiteral("Some Title");
    file.artist = QStringLiteral("Some Artist");
    file.wasAutoFixed = true;
    writer->setTitleArtist(file.url, {QStringLiteral("Some Artist - Some Title"), QStringLiteral("01")});

    update(file);
    EXPECT_EQ(writer->calls().last().title, std::nullopt);

    settings.repairBrokenTagStructure = true;
    update(file);
    EXPECT_EQ(writer->calls().last().title, QStringLiteral("Some Title"));
    EXPECT_EQ(writer->calls().last().artist, QStringLiteral("Some Artist"));
    EXPECT_EQ(undo.entries().last().originalTitle, QStringLiteral("Some Artist - Some Title"));
    EXPECT_EQ(undo.entries().last().originalArtist, QStringLiteral("01"));

    file.wasAutoFixed = false;
    update(file);
    EXPECT_EQ(writer->calls().last().title, std::nullopt);
    EXPECT_EQ(undo.entries().last().originalTitle, std::nullopt);
}

TEST_F(TagUpdateServiceTest, AFailedWriteKeepsItsEntryMarkedNotWritten) {
    const MusicFile locked = makeFile("House", std::nullopt, 1987);
    writer->failWritesTo(locked.url);
    const Result failed = update(locked);
    EXPECT_FALSE(failed.success);
    EXPECT_EQ(failed.writtenGenre, std::nullopt);
    EXPECT_TRUE(failed.errorMessage->startsWith(QStringLiteral("Tags konnten nicht geschrieben werden")));

    const MusicFile ogg = makeFile("House", std::nullopt, 1987, "/music/a.ogg");
    const Result refused = update(ogg);
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(refused.errorMessage, AppError::unsupportedFormat("ogg").errorDescription());

    ASSERT_EQ(undo.entries().size(), 2);
    EXPECT_FALSE(undo.entries().at(0).written);
    EXPECT_FALSE(undo.entries().at(1).written);

    EXPECT_TRUE(update(makeFile("Soul", std::nullopt, 1987, "/music/ok.mp3")).success);
    EXPECT_TRUE(undo.entries().last().written);
}

TEST_F(TagUpdateServiceTest, AReadBackThatDiffersOrFailsIsReportedAsUnverified) {
    const MusicFile file = makeFile("House", std::nullopt, 1987);
    writer->storeAs(file.url, QStringLiteral("House"));
    const Result differs = update(file);
    EXPECT_FALSE(differs.success);
    EXPECT_EQ(differs.errorMessage, QStringLiteral("Das geschriebene Genre konnte nicht überprüft werden"));
    // It was written, so the undo still has it.
    EXPECT_TRUE(undo.entries().last().written);

    const MusicFile other = makeFile("Soul", std::nullopt, 1987, "/music/other.mp3");
    writer->failReadsOf(other.url);
    EXPECT_FALSE(update(other).success);
}

// ---- end to end over real files -------------------------------------------

TEST(TagUpdateServiceEndToEnd, WriteReadBackAndUndoEveryWritableFormat) {
    QTemporaryDir dir;
    WriteUndoManager undo;
    TagUpdateService service(std::make_shared<UniversalTagWriter>(), &undo);
    const UniversalTagReader reader;
    const FileScannerService scanner;
    const auto settings = std::make_shared<const SettingsSnapshot>(SettingsSnapshot::defaults());
    auto source = [settings] {
        return settings;
    };

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
        const std::optional<MusicFile> scanned = scanner.readFile(path, reader);
        ASSERT_TRUE(scanned.has_value());
        ASSERT_EQ(scanned->format, c.format);
        // ID3 texts written by other tools often end in a NUL; the row keeps it as read.
        ASSERT_TRUE(scanned->genre == QStringLiteral("House") ||
                    scanned->genre == QStringLiteral("House") + QChar(u'\0'));
        ASSERT_EQ(scanned->year, 1987);
        copies.append({path, c.format, TagProbe::audioPayload(path, c.format), reader.readTags(path)});
        MusicFile file = *scanned;
        file.discoveredYear = 1995;

        const Result r = service.updateFile(file, source);

        EXPECT_TRUE(r.success) << r.errorMessage.value_or(QString()).toStdString();
        EXPECT_EQ(r.writtenGenre, QStringLiteral("House 90er"));
        const TagData after = reader.readTags(path);
        EXPECT_EQ(after.genre, QStringLiteral("House 90er"));
        EXPECT_EQ(after.year, 1995);
        EXPECT_EQ(after.title, copies.last().before.title);
        const TagProbe::Tags seen = TagProbe::viaTagLib(path, c.format);
        EXPECT_EQ(seen.genre, QStringLiteral("House 90er"));
        EXPECT_EQ(seen.year, 1995);
    }

    const WriteUndoManager::UndoResult result = undo.undoLastSession(*service.writer());
    EXPECT_EQ(result.restored, 7);
    EXPECT_EQ(result.failed, 0);

    for (const Copy& copy : copies) {
        SCOPED_TRACE(copy.path.toStdString());
        const TagData restored = reader.readTags(copy.path);
        EXPECT_EQ(restored.genre, copy.before.genre);
        EXPECT_EQ(restored.year, copy.before.year);
        EXPECT_EQ(restored.title, copy.before.title);
        EXPECT_EQ(restored.artist, copy.before.artist);
        EXPECT_EQ(restored.album, copy.before.album);
        const TagProbe::Tags seen = TagProbe::viaTagLib(copy.path, copy.format);
        EXPECT_EQ(seen.genre, QStringLiteral("House"));
        EXPECT_EQ(seen.year, 1987);
        EXPECT_EQ(seen.title, QStringLiteral("Fixture Title"));
        EXPECT_EQ(TagProbe::audioPayload(copy.path, copy.format), copy.audio);
    }
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
}
