#include "HeldAnswer.h"
#include "ManualModeFixture.h"
#include "QtPrinters.h"

#include "model/AppSettings.h"
#include "tagio/UniversalTagWriter.h"
#include "ui/manual/StatusBadgeViewModel.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using Kind = ProcessingStatus::Kind;

// Six rows that differ in every sort key.
struct Sample {
    const char *title, *artist, *album, *genre;
    ProcessingStatus status;
    std::optional<int> year, discovered, manual;
    double duration;
};

const Sample kSamples[] = {
    {"Zed", "b", "x", "Rock", ProcessingStatus::pending(), {}, {}, {}, 300},
    {"abba", "A", "y", "House", ProcessingStatus::yearNotFound(), 1987, {}, {}, 100},
    {"Caf\u00e9", "c", "z", "Jazz", ProcessingStatus::error("e"), {}, 1975, {}, 200},
    {"Cafe\u0301", "c", "z", "Soul", ProcessingStatus::updated(), 1950, 1960, 2004, 100},
    {"Zed", "d", "w", "Pop 80er", ProcessingStatus::alreadyHasDecade("80er"), 1983, {}, {}, 50},
    {"mix", "e", "v", "Funk", ProcessingStatus::yearFound(1991), 1950, 1991, {}, 400},
};

void loadSamples(ManualModeViewModel& vm, const QTemporaryDir& dir) {
    ManualModeFixture::load(vm, dir, 6, [](int i, MusicFile& f) {
        const Sample& s = kSamples[i];
        f.title = QString::fromUtf8(s.title);
        f.artist = QString::fromUtf8(s.artist);
        f.album = QString::fromUtf8(s.album);
        f.genre = QString::fromUtf8(s.genre);
        f.status = s.status;
        f.year = s.year;
        f.discoveredYear = s.discovered;
        f.manualYear = s.manual;
        f.duration = s.duration;
        f.format = i == 5 ? AudioFormat::flac : AudioFormat::mp3;
        f.discoveredGenre = (i == 3 || i == 5) ? std::optional<QString>(QStringLiteral("G")) : std::nullopt;
    });
}

// Indices of the shown rows, by their place in the loaded list.
QList<int> shownIndices(const ManualModeViewModel& vm) {
    QList<int> out;
    for (const MusicFile& f : vm.filteredFiles()) {
        out.append(int(std::find(vm.files().begin(), vm.files().end(), f) - vm.files().begin()));
    }
    return out;
}

} // namespace

TEST(ManualModeViewModelTest, FiltersSortsAndCounts) {
    ManualModeFixture fx;
    ManualModeViewModel vm(fx.services());
    loadSamples(vm, fx.dir);
    const struct {
        const char* text;
        bool problems;
        QList<int> shown;
    } cases[] = {
        {"", false, {2, 3, 0, 4, 1, 5}},
        {"caf\u00e9", false, {2, 3}},  // composed finds decomposed
        {"CAFE\u0301", false, {2, 3}}, // decomposed capitals find both
        {"ZED", false, {0, 4}},
        {"f03.MP3", false, {3}}, // the file name with its extension
        {" ", false, {4}},       // not trimmed: only a field with a blank
        {"V", false, {5}},       // the album
        {"", true, {2, 1}},
        {"house", true, {1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        vm.setFilterText(QString::fromUtf8(c.text));
        vm.setShowOnlyProblematic(c.problems);
        EXPECT_EQ(shownIndices(vm), c.shown);
    }
    vm.setFilterText({});
    vm.setShowOnlyProblematic(false);
    // Every key both ways; equal keys keep their load order.
    const struct {
        SortColumn column;
        QList<int> ascending;
        QList<int> descending;
    } sorts[] = {
        {SortColumn::title, {2, 3, 0, 4, 1, 5}, {5, 1, 0, 4, 2, 3}},
        {SortColumn::artist, {1, 0, 2, 3, 4, 5}, {5, 4, 2, 3, 0, 1}},
        {SortColumn::album, {5, 4, 0, 1, 2, 3}, {2, 3, 1, 0, 4, 5}},
        {SortColumn::year, {0, 2, 4, 1, 5, 3}, {3, 5, 1, 4, 2, 0}},
        {SortColumn::decade, {0, 3, 2, 1, 4, 5}, {5, 1, 4, 2, 3, 0}},
        {SortColumn::genre, {5, 1, 2, 4, 0, 3}, {3, 0, 4, 2, 1, 5}},
        {SortColumn::format, {5, 0, 1, 2, 3, 4}, {0, 1, 2, 3, 4, 5}},
        {SortColumn::duration, {4, 1, 3, 2, 0, 5}, {5, 0, 2, 1, 3, 4}},
        {SortColumn::status, {3, 5, 1, 2, 0, 4}, {0, 4, 2, 1, 3, 5}},
        {SortColumn::directory, {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5}},
    };
    for (const auto& c : sorts) {
        SCOPED_TRACE(rawValue(c.column).toStdString());
        vm.setSort(c.column, true);
        EXPECT_EQ(shownIndices(vm), c.ascending);
        vm.setSort(c.column, false);
        EXPECT_EQ(shownIndices(vm), c.descending);
    }
    // The table can only choose the seven text and year keys; others change only the direction.
    vm.applySort({{SortColumn::status, true}});
    EXPECT_EQ(vm.sortColumn(), SortColumn::directory);
    EXPECT_TRUE(vm.sortAscending());
    vm.applySort({{SortColumn::decade, false}});
    EXPECT_EQ(vm.sortColumn(), SortColumn::decade);
    EXPECT_EQ(vm.statusCounts(), (StatusCounts{6, 1, 1, 2, 1, 1, 1}));
    EXPECT_EQ(vm.problematicFiles().size(), 2);
    vm.setManualYear(1999, vm.files().at(1)); // no longer a problem
    EXPECT_EQ(vm.files().at(1).status, ProcessingStatus::yearFound(1999));
    EXPECT_EQ(vm.statusCounts(), (StatusCounts{6, 2, 0, 2, 1, 1, 1}));
    vm.setShowOnlyProblematic(true);
    EXPECT_EQ(shownIndices(vm), QList<int>({2}));
    vm.setShowOnlyProblematic(false);
    // The shown list is kept between calls: after any row change it equals one computed afresh.
    const std::function<void(MusicFile&)> edits[] = {
        [](MusicFile& f) { f.status = ProcessingStatus::yearNotFound(); }, // may join "problems only"
        [](MusicFile& f) { f.status = ProcessingStatus::updated(); },      // may leave it
        [](MusicFile& f) { f.manualYear = 1960 + f.title.size(); },        // moves by year and decade
        [](MusicFile& f) { f.title = QStringLiteral("caf") + f.title; },   // moves by title, meets the filter
    };
    for (const SortColumn column : {SortColumn::title, SortColumn::year, SortColumn::decade, SortColumn::status}) {
        for (const char* filter : {"", "caf"}) {
            for (int i = 0; i < 12; ++i) {
                SCOPED_TRACE(rawValue(column).toStdString() + filter + std::to_string(i));
                vm.setShowOnlyProblematic(i % 2 == 1);
                vm.setFilterText(QString::fromUtf8(filter));
                vm.setSort(column, true);
                shownIndices(vm);
                vm.modifyFile(vm.files().at(i % 6).id, edits[(i + int(column)) % 4]);
                const QList<int> kept = shownIndices(vm); // a stale row shows as 6
                vm.setSort(column, true);
                EXPECT_EQ(kept, shownIndices(vm));
            }
        }
    }
    // New decade rules reorder the decade column without any row change.
    vm.setFilterText({});
    vm.setShowOnlyProblematic(false);
    vm.setSort(SortColumn::decade, true);
    shownIndices(vm);
    fx.settings.change([](SettingsSnapshot& s) {
        for (DecadeRule& rule : s.decadeRules) {
            rule.label = QString::number(3000 - rule.from); // the decades in reverse
        }
    });
    const QList<int> kept = shownIndices(vm);
    vm.setSort(SortColumn::decade, true);
    EXPECT_EQ(kept, shownIndices(vm));
}

TEST(ManualModeViewModelTest, ScanAndDropFillTheTable) {
    ManualModeFixture fx;
    const TestFiles::PermissionBitsHold user; // the model's threads obey permission bits, also as root
    ASSERT_TRUE(user.holds());
    AppSettings::shared().setAppLanguage(AppLanguage::english);
    ManualModeViewModel vm(fx.services());
    QDir source(TestFiles::fixturePath(QStringLiteral("scan")));
    for (const QString& name : source.entryList(QDir::Files)) {
        QFile::copy(source.filePath(name), fx.dir.filePath(name));
    }
    vm.chooseDirectory(fx.dir.path());
    vm.startScan();
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    QStringList names;
    for (const MusicFile& f : vm.files()) {
        names.append(f.url.section(QLatin1Char('/'), -1));
    }
    EXPECT_TRUE(names.contains(QStringLiteral("tagged.mp3")));
    for (const char* skipped : {"not_audio.mp3", "notes.txt", "no_extension"}) {
        EXPECT_FALSE(names.contains(QLatin1String(skipped))) << skipped;
    }
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_FALSE(vm.errorMessage());
    EXPECT_EQ(vm.unreadableFiles(), QStringList{fx.dir.filePath("not_audio.mp3")}); // reported, not lost
    // A drop: a listed file, a new one twice, a text file, capitals, a broken file, the scan's
    // unreadable file again, a folder of two (and one it cannot list), a folder it cannot list.
    QTemporaryDir other;
    const auto reopen = qScopeGuard([&] { TestFiles::removeTree(other.path()); }); // closed folders
    QDir(fx.dir.path()).mkdir(QStringLiteral("sub")); // a real path to the listed file
    const QString fresh = TestFiles::copyFixture("scan/tagged.flac", other, "new.flac");
    const QString upper = TestFiles::copyFixture("scan/UPPER.MP3", other);
    const QString text = TestFiles::copyFixture("scan/notes.txt", other);
    const QString broken = TestFiles::copyFixture("scan/not_audio.mp3", other);
    const QString locked = TestFiles::copyFixture("scan/tagged.mp3", other, "locked.mp3");
    ASSERT_TRUE(QFile::setPermissions(locked, {}));
    QDir(other.path()).mkdir(QStringLiteral("sub"));
    TestFiles::copyFixture(QStringLiteral("scan/tagged.mp3"), other, QStringLiteral("sub/a.mp3"));
    TestFiles::copyFixture(QStringLiteral("scan/tagged.m4a"), other, QStringLiteral("sub/b.m4a"));
    const QString closed = other.filePath(QStringLiteral("sub/closed"));
    const QString shut = other.filePath(QStringLiteral("shut"));
    for (const QString& folder : {closed, shut}) {
        ASSERT_TRUE(QDir().mkpath(folder) && QFile::setPermissions(folder, {}));
    }
    const qsizetype before = vm.files().size();
    vm.addFiles({fx.dir.path() + QStringLiteral("/sub/../tagged.mp3"), fresh, fresh, text, upper, broken,
                 fx.dir.filePath("not_audio.mp3"), locked, other.filePath(QStringLiteral("sub")), shut});
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    QStringList added;
    for (qsizetype i = before; i < vm.files().size(); ++i) {
        added.append(vm.files().at(i).url.section(QLatin1Char('/'), -1));
    }
    EXPECT_EQ(added, QStringList({"new.flac", "UPPER.MP3", "a.mp3", "b.m4a"}));
    // Each unreadable item once, also one the scan reported before.
    EXPECT_EQ(vm.unreadableFiles(),
              QStringList({fx.dir.filePath("not_audio.mp3"), closed, shut, broken, locked}));
    // Each item's own reason: the read's error, or the denial.
    EXPECT_EQ(vm.unreadableSuffix(broken), " (No audio stream found in the file)");
    for (const QString& denied : {locked, closed, shut}) {
        EXPECT_EQ(vm.unreadableSuffix(denied), " (Permission denied)") << denied.toStdString();
    }

    // A scan cancelled at once (an unlistable folder: the screen test).
    vm.startScan();
    vm.cancelAll();
    EXPECT_FALSE(vm.isScanning());
    QSignalSpy ended(&vm, &ManualModeViewModel::stateChanged); // the cancelled scan's end step
    ASSERT_TRUE(ended.wait(hangMs));
    EXPECT_TRUE(vm.files().isEmpty());
    EXPECT_FALSE(vm.errorMessage());
}

using ManualModeViewModelLookupWindowTest = ::testing::TestWithParam<std::pair<int, int>>;

TEST_P(ManualModeViewModelLookupWindowTest, LookupKeepsAtMostTheWindowInFlightAndMergesResults) {
    const auto [configured, window] = GetParam();
    ManualModeFixture fx;
    fx.settings.change([c = configured](SettingsSnapshot& s) { s.maxConcurrentRequests = c; });
    // Titles T00..T13: even ones get a year, after delays that finish out of order.
    fx.server.handle("GET", "/ws/2/recording", [](const LoopbackServer::Request& r) {
        static const QRegularExpression title(QStringLiteral("T(\\d\\d)"));
        const int i = title.match(QString::fromStdString(r.query("query"))).captured(1).toInt();
        LoopbackServer::Response answer(200, i % 2 ? LookupScenario::mbEmpty
                                                   : LookupScenario::mbAnswer(1990 + i, {}));
        answer.delay = std::chrono::milliseconds(10 + (i * 7) % 40);
        return answer;
    });
    ManualModeViewModel vm(fx.services());
    ManualModeFixture::load(vm, fx.dir, 14, [](int i, MusicFile& f) {
        f.title = QStringLiteral("T%1").arg(i, 2, 10, QLatin1Char('0'));
        f.year = i == 13 ? std::optional<int>(1985) : std::nullopt;
        f.genre = i == 13 ? QStringLiteral("House 80er") : QStringLiteral("House");
        f.discoveredYear = i == 1 ? std::optional<int>(1977) : std::nullopt;
        f.discoveredGenre = i == 2 ? std::optional<QString>(QStringLiteral("Soul")) : std::nullopt;
    });
    int most = 0;
    QObject::connect(&vm, &ManualModeViewModel::fileChanged, [&] {
        const auto n = std::count_if(vm.files().begin(), vm.files().end(), [](const MusicFile& f) {
            return f.status.kind() == Kind::lookingUp;
        });
        most = std::max(most, int(n));
    });
    vm.lookupSelected({});
    vm.setManualYear(2001, vm.files().at(3)); // typed while its lookup runs
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));

    EXPECT_EQ(most, window);
    EXPECT_EQ(vm.lookupProgress(), (Progress{13, 13}));
    const QList<MusicFile>& f = vm.files();
    EXPECT_EQ(f.at(0).status, ProcessingStatus::yearFound(1990));
    EXPECT_EQ(f.at(1).status, ProcessingStatus::yearNotFound());
    EXPECT_EQ(f.at(1).discoveredYear, 1977);
    EXPECT_EQ(f.at(2).discoveredGenre, QStringLiteral("Soul"));
    EXPECT_EQ(f.at(3).status, ProcessingStatus::yearFound(2001));
    EXPECT_EQ(f.at(12).discoveredYear, 2002);
    EXPECT_EQ(f.at(13).status, ProcessingStatus::alreadyHasDecade(QStringLiteral("80er")));
}
INSTANTIATE_TEST_SUITE_P(, ManualModeViewModelLookupWindowTest, ::testing::Values(std::pair{0, 1}, std::pair{50, 10}),
                         [](const auto& info) { return "Configured" + std::to_string(info.param.first); });

// A cancel drops the lookups in flight: their rows show their former status, also once the answers come.
TEST(ManualModeViewModelTest, CancelledLookupGivesRowsTheirStatusBack) {
    ManualModeFixture fx;
    fx.settings.change([](SettingsSnapshot& s) { s.maxConcurrentRequests = 10; });
    const ManualModeViewModel::Dependencies services = fx.services();
    ManualModeViewModel vm(services);
    const HeldAnswer held(fx.server, "GET", "/ws/2/recording", {200, LookupScenario::mbAnswer(1990, {})});
    const ProcessingStatus before[] = {ProcessingStatus::pending(), ProcessingStatus::yearNotFound(),
                                       ProcessingStatus::error("e"), ProcessingStatus::yearFound(1977)};
    ManualModeFixture::load(vm, fx.dir, 4, [&](int i, MusicFile& f) { f.status = before[i]; });
    vm.lookupSelected({});
    for (const MusicFile& f : vm.files()) {
        ASSERT_EQ(f.status, ProcessingStatus::lookingUp());
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return fx.server.requests().size() == 4; }, hangMs));
    vm.cancelAll();
    for (const bool ended : {false, true}) {
        if (ended) {
            // Each lookup's job holds the service until its result is handed back: then that result
            // waits only for the event loop.
            held.letGo();
            ASSERT_TRUE(QTest::qWaitFor([&] { return services.lookupService.use_count() == 2; }, hangMs));
            QCoreApplication::processEvents();
        }
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(vm.files().at(i).status, before[i]) << i << (ended ? " after the lookups ended" : "");
        }
    }
}

// A not-found row names the sources that failed and why, in the interface
// language; a search that simply found nothing names none. An AI provider that
// cannot be reached is named too (as the lookup's language named it).
TEST(ManualModeViewModelTest, NotFoundRowsNameTheSourcesThatFailed) {
    ManualModeFixture fx;
    fx.server.handle("GET", "/ws/2/recording", [](const LoopbackServer::Request& r) {
        return LookupScenario::mbAsksFor(r, "T0")   ? LoopbackServer::Response(500)
               : LookupScenario::mbAsksFor(r, "T1") ? LoopbackServer::Response(200, "<html>busy</html>")
                                                    : LoopbackServer::Response(200, LookupScenario::mbEmpty);
    });
    ManualModeViewModel vm(fx.services());
    ManualModeFixture::load(vm, fx.dir, 4,
                            [](int i, MusicFile& f) { f.title = QStringLiteral("T%1").arg(i); });
    QSet<QUuid> firstThree = ManualModeFixture::ids(vm);
    firstThree.remove(vm.files().at(3).id);
    vm.lookupSelected(firstThree);
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    fx.settings.change([](SettingsSnapshot& s) {
        s.selectedProvider = AIProviderType::lmstudio, s.customEndpoint = closedLoopbackUrl(),
        s.appLanguage = AppLanguage::english;
    });
    vm.lookupSelected({vm.files().at(3).id});
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    const struct {
        AppLanguage language;
        QString failed[4]; // patterns
    } cases[] = {
        {AppLanguage::english,
         {"Failed:\nMusicBrainz: HTTP 500", "Failed:\nMusicBrainz: unreadable answer", "",
          "Failed:\nLM Studio \\(Local\\): could not connect: .+"}},
        {AppLanguage::german,
         {"Fehlgeschlagen:\nMusicBrainz: HTTP 500", "Fehlgeschlagen:\nMusicBrainz: unlesbare Antwort", "",
          "Fehlgeschlagen:\nLM Studio \\(Local\\): keine Verbindung: .+"}},
    };
    for (const auto& c : cases) {
        AppSettings::shared().setAppLanguage(c.language);
        for (int i = 0; i < 4; ++i) {
            const ProcessingStatus& status = vm.files().at(i).status;
            EXPECT_EQ(status.kind(), Kind::yearNotFound) << i;
            const QString detail = statusDetail(status, {}).section('\n', 1);
            EXPECT_TRUE(
                QRegularExpression(QRegularExpression::anchoredPattern(c.failed[i])).match(detail).hasMatch())
                << detail.toStdString();
        }
    }
}

using ManualModeViewModelWriteTest = ::testing::TestWithParam<AppLanguage>;

TEST_P(ManualModeViewModelWriteTest, WriteOutcomesAndTheUndoMessageInBothLanguages) {
    const AppLanguage language = GetParam();
    AppSettings::shared().setAppLanguage(language);
    ManualModeFixture fx;
    auto writer = std::make_shared<FakeTagWriter>();
    ManualModeViewModel vm(fx.services(writer));
    ManualModeFixture::load(vm, fx.dir, 5, [](int i, MusicFile& f) {
        f.genre = i == 1 ? QStringLiteral("House 80er") : QStringLiteral("House");
        f.manualYear = i == 1 ? std::optional<int>(1992) : std::nullopt; // labelled: the service skips
        f.year = i == 3 ? std::nullopt : std::optional<int>(1987);       // no year: not eligible
    });
    const QList<MusicFile>& f = vm.files();
    writer->failWritesTo(f.at(2).url);
    vm.updateSelected(ManualModeFixture::ids(vm));
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    EXPECT_EQ(f.at(0).status, ProcessingStatus::updated());
    EXPECT_EQ(f.at(0).genre, QStringLiteral("House 80er"));
    EXPECT_EQ(f.at(1).status, ProcessingStatus::alreadyHasDecade(QStringLiteral("80er")));
    EXPECT_EQ(f.at(2).status.kind(), Kind::error);
    EXPECT_EQ(f.at(3).status, ProcessingStatus::pending());
    EXPECT_EQ(vm.updateProgress(), (Progress{4, 4}));
    ASSERT_TRUE(vm.canUndo());

    writer->failWritesTo(f.at(0).url); // its restore fails
    vm.undoLastWrite();
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    EXPECT_FALSE(vm.canUndo());
    EXPECT_EQ(f.at(4).genre, QStringLiteral("House"));
    EXPECT_EQ(f.at(4).status, ProcessingStatus::yearFound(1987));
    EXPECT_EQ(vm.errorMessage(), language == AppLanguage::english
                                     ? QStringLiteral("1 files restored, 1 errors.")
                                     : QStringLiteral("1 Dateien wiederhergestellt, 1 Fehler."));
}
INSTANTIATE_TEST_SUITE_P(, ManualModeViewModelWriteTest, ::testing::Values(AppLanguage::english, AppLanguage::german),
                         [](const auto& info) { return info.param == AppLanguage::german ? "German" : "English"; });

// A write in which every file fails (an OGG row, a file changed since the
// scan) keeps the undo of the write before; rows left unchecked are never touched.
TEST(ManualModeViewModelTest, AWriteThatWritesNothingKeepsTheUndoOfTheOneBefore) {
    ManualModeFixture fx;
    ManualModeViewModel vm(fx.services());
    TestFiles::copyFixture("scan/tagged.ogg", fx.dir, "song.ogg");
    ManualModeFixture::load(vm, fx.dir, 3);
    QHash<QString, QUuid> id;
    QHash<QString, QByteArray> scanned;
    for (const MusicFile& f : vm.files()) {
        id.insert(QFileInfo(f.url).fileName(), f.id);
        scanned.insert(QFileInfo(f.url).fileName(), TestFiles::readFile(f.url));
    }
    const auto unchanged = [&](const QStringList& names) {
        return std::all_of(names.begin(), names.end(), [&](const QString& name) {
            return TestFiles::readFile(fx.dir.filePath(name)) == scanned.value(name);
        });
    };
    vm.updateSelected({id.value("f00.mp3")});
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    ASSERT_TRUE(vm.canUndo());
    EXPECT_FALSE(unchanged({"f00.mp3"}));
    EXPECT_TRUE(unchanged({"f01.mp3", "f02.mp3", "song.ogg"}));

    TestFiles::writeFile(fx.dir.filePath("f01.mp3"), scanned.value("f01.mp3") + "x");
    vm.updateSelected({id.value("song.ogg"), id.value("f01.mp3")});
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    for (const MusicFile& f : vm.files()) {
        EXPECT_EQ(f.status.kind() == Kind::error,
                  f.id == id.value("song.ogg") || f.id == id.value("f01.mp3"));
    }
    EXPECT_TRUE(unchanged({"f02.mp3", "song.ogg"}));
    ASSERT_TRUE(vm.canUndo());
    vm.undoLastWrite();
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    EXPECT_EQ(UniversalTagWriter().readGenre(fx.dir.filePath("f00.mp3"), AudioFormat::mp3), "House");
    EXPECT_FALSE(vm.canUndo());
}
