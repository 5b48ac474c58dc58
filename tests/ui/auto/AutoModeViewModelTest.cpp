#include "AutoRunFixture.h"

#include "HeldWriter.h"
#include "LogCapture.h"
#include "LookupScenario.h"
#include "LoopbackServer.h"

#include "ui/manual/ManualModeViewModel.h"

#include <QScopeGuard>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <condition_variable>
#include <mutex>

#include <sys/stat.h>

using VM = AutoModeViewModel;
using Kind = VM::Outcome::Kind;

namespace {

VM::ProcessingTaskResult result(Kind kind, const QString& text = {}, bool withFile = true) {
    VM::ProcessingTaskResult r;
    r.url = QStringLiteral("/music/Song.mp3");
    if (withFile) {
        MusicFile file;
        file.id = QUuid::createUuid();
        file.status = ProcessingStatus::yearNotFound();
        r.file = file;
    }
    r.outcome = {kind, text};
    return r;
}

} // namespace

TEST(AutoModeViewModelTest, OutcomeTable) {
    AutoRunFixture f;
    struct Row {
        VM::ProcessingTaskResult result;
        VM::Statistics counters;
        VM::LogKind kind;
        QString line;
        bool listed;
    };
    const Row rows[] = {
        {result(Kind::loadFailed, {}, false),
         {0, 0, 0, 1},
         VM::LogKind::error,
         "Read error: Song.mp3",
         false},
        {result(Kind::yearNotFound), {0, 0, 0, 1}, VM::LogKind::error, "Year not found: Song.mp3", true},
        {result(Kind::writeFailed, "disk full"),
         {0, 0, 0, 1},
         VM::LogKind::error,
         "Error: Song.mp3 – disk full",
         true},
        {result(Kind::skipped, "?"),
         {0, 0, 1, 0},
         VM::LogKind::skipped,
         "Skipped: Song.mp3 – decade label \"?\" already present",
         false},
        {result(Kind::alreadyUpToDate),
         {0, 0, 1, 0},
         VM::LogKind::skipped,
         "Skipped: Song.mp3 – already up to date",
         false},
        {result(Kind::updated, "House 80er"),
         {0, 1, 0, 0},
         VM::LogKind::success,
         "Updated: Song.mp3 → 80er",
         false},
        {result(Kind::updated, "Deep House"),
         {0, 1, 0, 0},
         VM::LogKind::success,
         "Updated: Song.mp3 → Deep House",
         false},
    };
    for (const Row& row : rows) {
        VM vm(f.dependencies());
        vm.handleResult(row.result);
        EXPECT_EQ(vm.statistics(), row.counters) << row.line.toStdString();
        ASSERT_EQ(vm.log().size(), 1);
        EXPECT_EQ(vm.log().first().kind, row.kind);
        EXPECT_EQ(vm.log().first().message, row.line);
        ASSERT_EQ(vm.problemFiles().size(), row.listed ? 1 : 0) << row.line.toStdString();
        if (row.result.outcome.kind == Kind::writeFailed) {
            EXPECT_EQ(vm.problemFiles().first().status, ProcessingStatus::error("disk full"));
        }
    }
}

TEST(AutoModeViewModelTest, LogAndProblemListStayBounded) {
    AutoRunFixture f;
    VM vm(f.dependencies());
    for (int i = 0; i < 501; ++i) {
        VM::ProcessingTaskResult r = result(Kind::yearNotFound);
        r.url = QStringLiteral("/m/%1.mp3").arg(i);
        vm.handleResult(r);
    }
    EXPECT_EQ(vm.statistics().problems, 501);
    EXPECT_EQ(vm.problemFiles().size(), VM::maxProblemFiles);
    ASSERT_EQ(vm.log().size(), VM::maxLogEntries);
    EXPECT_EQ(vm.log().first().message, "Year not found: 1.mp3");
    EXPECT_EQ(vm.log().last().message, "Year not found: 500.mp3");
}

TEST(AutoModeViewModelTest, LabelledFileIsSkippedWithoutLookupAndTagLineBreaksStayInOneDebugLine) {
    AutoRunFixture f;
    LogCapture capture;
    const QString path = TestFiles::copyFixture("scan/tagged.mp3", f.dir);
    {
        TagLib::FileRef ref(QFile::encodeName(path).constData());
        ref.tag()->setGenre("House 80er");
        ref.tag()->setTitle("Two\nLines");
        ASSERT_TRUE(ref.save());
    }
    const auto deps = f.dependencies();
    const VM::JobContext context{
        {std::make_shared<FileScannerService>(), std::make_shared<UniversalTagReader>(),
         std::make_shared<YearLookupService>(), deps.updateService, &DebugLogger::shared(), deps.settings},
        CancelToken(),
        f.undoLog.openSession()};
    const VM::ProcessingTaskResult r = VM::processFile(context, path, 11, 10000);
    EXPECT_EQ(r.outcome.kind, Kind::skipped);
    EXPECT_EQ(r.outcome.text, "80er");
    const QStringList lines = capture.entries().filter("[0012/10000] ");
    ASSERT_EQ(lines.size(), 3); // load, loaded, skip: no lookup, no write
    EXPECT_TRUE(lines[1].contains(R"(title="Two\nLines")")) << lines[1].toStdString();
}

namespace {

enum Setup { emptyFolder, missingFolder, cancelDuringScan, widthFifty, accessDenied, folderDenied };
struct Row {
    Setup setup;
    QStringList lines; // after the two opening lines
    VM::ProcessingPhase phase;
    Progress progress;
};
const Row rows[] = {
    {emptyFolder, {"No audio files found."}, VM::ProcessingPhase::done, {0, 0}},
    {missingFolder, {"Error: "}, VM::ProcessingPhase::scanning, {0, 0}},
    {cancelDuringScan,
     {"Processing cancelled.", "Found: 4 audio files. Starting processing (3 concurrent)…",
      "Processing cancelled."},
     VM::ProcessingPhase::done,
     {0, 4}},    // no file was handled
    {widthFifty, // also a folder that cannot be entered, and a file that cannot be read
     {"Folder could not be read: Caf\uFFFD", "Found: 1 audio files. Starting processing (10 concurrent)…",
      "Read error: a001.mp3 – No audio stream found in the file", "1 file(s) could not be read.",
      "Done: 0 updated, 0 skipped, 1 problems"},
     VM::ProcessingPhase::done,
     {1, 1}},
    {accessDenied, // a folder and a file the user may not read
     {"Folder could not be read: locked – Permission denied",
      "Found: 1 audio files. Starting processing (3 concurrent)…", "Read error: a001.mp3 – Permission denied",
      "1 file(s) could not be read.", "Done: 0 updated, 0 skipped, 1 problems"},
     VM::ProcessingPhase::done,
     {1, 1}},
    {folderDenied, {"Error: Permission denied: "}, VM::ProcessingPhase::scanning, {0, 0}},
};

} // namespace

using AutoModeViewModelEarlyEndTest = ::testing::TestWithParam<Row>;

TEST_P(AutoModeViewModelEarlyEndTest, RunsThatEndEarly) {
    const Row& row = GetParam();
    AutoRunFixture f;
    const auto removeAll = qScopeGuard([&] { TestFiles::removeTree(f.dir.path()); }); // not UTF-8, closed
    f.copies(row.setup == cancelDuringScan ? "scan/tagged.mp3" : "scan/not_audio.mp3",
             row.setup == cancelDuringScan                          ? 4
             : row.setup == widthFifty || row.setup == accessDenied ? 1
                                                                    : 0);
    f.settings.maxConcurrentRequests = row.setup == widthFifty ? 50 : 3;
    if (row.setup == widthFifty) {
        ASSERT_EQ(::mkdir(QFile::encodeName(f.dir.path() + "/Caf").append('\xe9').constData(), 0700), 0);
    }
    if (row.setup == accessDenied) {
        ASSERT_EQ(::mkdir(QFile::encodeName(f.dir.filePath("locked")).constData(), 0), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(f.dir.filePath(AutoRunFixture::name(1))).constData(), 0), 0);
    }
    if (row.setup == folderDenied) {
        ASSERT_EQ(::chmod(QFile::encodeName(f.dir.path()).constData(), 0), 0);
    }
    const TestFiles::PermissionBitsHold user; // its threads obey permission bits, also as root
    ASSERT_TRUE(user.holds());
    auto vm = f.makeViewModel();
    if (row.setup == missingFolder) {
        vm->selectDirectory(f.dir.filePath("gone"));
    }
    vm->startProcessing();
    if (row.setup == cancelDuringScan) {
        vm->cancelProcessing(); // the scan is on the pool: no file has been seen yet
    }
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    QStringList lines = AutoRunFixture::messages(*vm);
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines.takeFirst().startsWith("Starting processing: "));
    EXPECT_EQ(lines.takeFirst(), "Scanning directory…");
    if ((row.setup == missingFolder || row.setup == folderDenied) && !lines.isEmpty()) {
        lines.last().truncate(row.lines.last().size()); // the folder's name
    }
    EXPECT_EQ(lines, row.lines) << int(row.setup);
    EXPECT_EQ(vm->phase(), row.phase);
    EXPECT_EQ(vm->progress(), row.progress);
    const bool withProblems = row.setup == widthFifty || row.setup == accessDenied;
    EXPECT_EQ(vm->overallFraction() == 1.0, row.setup == emptyFolder || withProblems);
    // None of these looks like success, not even a run whose only problem never entered the list.
    EXPECT_FALSE(vm->endedSuccessfully());
    EXPECT_TRUE(vm->completionTitle().startsWith(row.setup == cancelDuringScan ? "Processing cancelled."
                                                 : withProblems ? "Processing complete – with problems"
                                                                : row.lines.last()));
}
INSTANTIATE_TEST_SUITE_P(, AutoModeViewModelEarlyEndTest, ::testing::ValuesIn(rows), ([](const auto& info) {
                             const char* names[] = {"EmptyFolder", "MissingFolder", "CancelDuringScan",
                                                    "WidthFifty",  "AccessDenied",  "FolderDenied"};
                             return std::string(names[info.param.setup]);
                         }));

TEST(AutoModeViewModelTest, WindowNeverExceedsWidthAndStartsInListOrder) {
    AutoRunFixture f;
    LogCapture capture;
    LoopbackServer server;
    // The first answers wait until three requests are in flight at once (or a hang's time has passed).
    std::mutex mutex;
    std::condition_variable changed;
    int inFlight = 0;
    int peak = 0;
    bool gaveUp = false; // a window that never reaches three waits once, not per request
    server.handle("GET", "/ws/2/recording", [&](const LoopbackServer::Request&) {
        std::unique_lock lock(mutex);
        peak = std::max(peak, ++inFlight);
        changed.notify_all();
        gaveUp = gaveUp || !changed.wait_for(lock, std::chrono::milliseconds(hangMs),
                                             [&] { return peak >= 3 || gaveUp; });
        --inFlight;
        return LoopbackServer::Response(200, LookupScenario::mbAnswer(1984, {}));
    });
    server.script("GET", "/2.0/", {{200, LookupScenario::lastFMTrack("acid")}}); // the genre chain's find
    MusicBrainzPacer pacer(std::chrono::milliseconds(0));
    MusicBrainzTiming timing = LookupScenario::quickTiming();
    timing.requestTimeout = std::chrono::milliseconds(2 * hangMs); // longer than an answer is held
    f.lookup = std::make_shared<YearLookupService>(server.endpoints(), timing, pacer);
    f.settings.useMusicBrainz = true;
    f.settings.useExistingYearTag = false;
    f.settings.maxConcurrentRequests = 3;
    f.settings.enableGenreLookup = f.settings.useLastFM = true;
    f.settings.lastFMApiKey = QStringLiteral("lfm-key");
    f.copies("scan/tagged.mp3", 10);
    auto vm = f.makeViewModel();
    vm->startProcessing();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    {
        const std::lock_guard lock(mutex);
        EXPECT_EQ(peak, 3);
    }
    EXPECT_EQ(f.genreOf(AutoRunFixture::name(10)), QStringLiteral("House Acid 80er"));
    // File k starts only after k - 2 results were handled, each after its LOAD line.
    QList<int> loadOrder;
    for (const QString& line : capture.entries()) {
        if (line.contains("] LOAD: ")) {
            loadOrder << line.section('[', 1).left(4).toInt() - 1;
        }
    }
    ASSERT_EQ(loadOrder.size(), 10);
    for (int rank = 0; rank < loadOrder.size(); ++rank) {
        EXPECT_LE(loadOrder[rank], rank + 2) << "file " << loadOrder[rank] << " started early";
    }
}

TEST(AutoModeViewModelTest, ACancelledRunShowsTheFilesItHandled) {
    AutoRunFixture f;
    LoopbackServer server;
    server.handle("GET", "/ws/2/recording", [](const LoopbackServer::Request&) {
        LoopbackServer::Response answer(200, LookupScenario::mbEmpty);
        answer.delay = std::chrono::milliseconds(30);
        return answer;
    });
    MusicBrainzPacer pacer(std::chrono::milliseconds(0));
    f.lookup = std::make_shared<YearLookupService>(server.endpoints(), LookupScenario::quickTiming(), pacer);
    f.settings.useMusicBrainz = true;
    f.settings.useExistingYearTag = false;
    f.settings.maxConcurrentRequests = 1;
    f.copies("scan/tagged.mp3", 8);
    auto vm = f.makeViewModel();
    vm->startProcessing();
    ASSERT_TRUE(QTest::qWaitFor([&] { return vm->progress().current >= 2; }, 20000));
    vm->cancelProcessing();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    const Progress progress = vm->progress();
    EXPECT_EQ(progress.total, 8);
    EXPECT_LT(progress.current, 8);
    EXPECT_EQ(progress.current, vm->statistics().problems); // each handled file was "not found"
    EXPECT_DOUBLE_EQ(vm->overallFraction(), progress.current / 8.0);
    EXPECT_EQ(vm->phaseText(), "Cancelled");
}

// "Update Selected" in the problem sheet writes the files with a year as a
// write of its own, which Undo restores; with the gate taken the years stay.
using AutoModeViewModelProblemSheetTest = ::testing::TestWithParam<bool>;

TEST_P(AutoModeViewModelProblemSheetTest, YearsFromTheProblemSheetAreWrittenAndUndone) {
    const bool gateTaken = GetParam();
    AutoRunFixture f;
    f.settings.useExistingYearTag = false; // every file becomes a problem, in list order
    f.settings.maxConcurrentRequests = 1;
    f.copies("scan/tagged.mp3", 3);
    auto vm = f.makeViewModel();
    vm->startProcessing();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    QList<MusicFile> list = vm->problemFiles();
    ASSERT_EQ(list.size(), 3);
    list[0].manualYear = 1975; // typed in the sheet
    list[2].discoveredYear = 1994;
    vm->setProblemFiles(list);
    vm->setShowProblemResolution(true);
    QObject other;
    if (gateTaken) {
        ASSERT_TRUE(f.gate.tryAcquire(&other));
    }
    vm->updateResolvedFiles({list[0], list[2]});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm->isRunning(); }, 20000));
    EXPECT_FALSE(vm->showProblemResolution());
    const QStringList lines = AutoRunFixture::messages(*vm);
    if (gateTaken) {
        EXPECT_EQ(vm->problemFiles(), list);
        EXPECT_EQ(f.genreOf(AutoRunFixture::name(1)), "House");
        EXPECT_EQ(lines.last(), "Not written: another write is running. The years stay in the problem list.");
        return;
    }
    EXPECT_EQ(lines.mid(lines.size() - 4),
              QStringList({"Writing 2 files from the problem list…", "Updated: a001.mp3 → 70er",
                           "Updated: a003.mp3 → 90er", "Done: 2 updated, 0 skipped, 1 problems"}));
    EXPECT_EQ(vm->statistics(), (VM::Statistics{3, 2, 0, 1}));
    ASSERT_EQ(vm->problemFiles().size(), 1);
    EXPECT_EQ(vm->problemFiles().first().id, list[1].id);
    EXPECT_EQ(f.genreOf(AutoRunFixture::name(3)), "House 90er");
    ASSERT_TRUE(vm->canUndo());
    vm->undoLastWrite();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm->isRunning(); }, 20000));
    EXPECT_EQ(AutoRunFixture::messages(*vm).last(), "Undo: 2 files restored.");
    EXPECT_EQ(f.genreOf(AutoRunFixture::name(1)), "House");
    EXPECT_EQ(f.genreOf(AutoRunFixture::name(3)), "House");
}
INSTANTIATE_TEST_SUITE_P(, AutoModeViewModelProblemSheetTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "GateTaken" : "GateFree"; });

// A write run in which every file fails, of this mode or Manual mode's
// "Update Selected", leaves Auto's last run to undo, named as before: a later
// Auto run makes Undo name the run it reaches back to.
using AutoModeViewModelFailedRunTest = ::testing::TestWithParam<bool>;

TEST_P(AutoModeViewModelFailedRunTest, ARunThatWritesNothingKeepsTheUndoOfTheRunBefore) {
    const bool manualFails = GetParam();
    AutoRunFixture f;
    f.copies("scan/tagged.mp3", 1);
    auto vm = f.makeViewModel();
    vm->startProcessing();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    const VM::UndoTarget before = vm->undoTarget();
    ASSERT_EQ(before.files, 1);
    TestFiles::copyFixture("scan/tagged.ogg", f.dir, "b.ogg"); // its write is refused; a001 is labelled now
    if (manualFails) {
        ManualModeViewModel manual(static_cast<ModeServices>(f.dependencies()));
        manual.chooseDirectory(f.dir.path());
        manual.startScan();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !manual.isBusy(); }, 20000));
        QSet<QUuid> all;
        for (const MusicFile& file : manual.files()) {
            all.insert(file.id);
        }
        manual.updateSelected(all);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !manual.isBusy() && !manual.isWriteInFlight(); }, 20000));
        EXPECT_FALSE(manual.canUndo());
    } else {
        vm->startProcessing();
        ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
        EXPECT_EQ(vm->statistics(), (VM::Statistics{2, 0, 1, 1}));
    }
    ASSERT_TRUE(vm->canUndo());
    const VM::UndoTarget after = vm->undoTarget();
    EXPECT_EQ(std::tuple(after.files, after.runStarted, after.latestRun),
              std::tuple(1, before.runStarted, manualFails));
    vm->undoLastWrite();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm->isRunning(); }, 20000));
    EXPECT_EQ(f.genreOf(AutoRunFixture::name(1)), "House");
}
INSTANTIATE_TEST_SUITE_P(, AutoModeViewModelFailedRunTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ManualUpdateSelected" : "AutoRun"; });

namespace {
// The AI provider of a run whose sources all fail, and its line in the log:
// one that answers with an error, and a local server that is not running.
struct FailingAI {
    const char* name;
    AIProviderType provider;
    const char* line;
};
} // namespace
using AutoModeViewModelFailingSourcesTest = ::testing::TestWithParam<FailingAI>;

// Sources that fail are told once per run, with why and without the key;
// the files still count as problems, and a row's detail names them too.
TEST_P(AutoModeViewModelFailingSourcesTest, FailingSourcesAreToldOncePerRunWithTheirReason) {
    AutoRunFixture f;
    LoopbackServer server;
    server.script("POST", "/v1/messages", {{500, "invalid x-api-key sk-live-SECRET\nUpdated: forged.mp3"}});
    server.script("POST", "/api/token", {{200, "<html>Sign in</html>"}});
    Endpoints endpoints = server.endpoints();
    endpoints.musicBrainzRecording = closedLoopbackUrl() + "/ws/2/recording";
    MusicBrainzPacer pacer(std::chrono::milliseconds(0));
    f.lookup = std::make_shared<YearLookupService>(endpoints, LookupScenario::quickTiming(), pacer);
    f.settings.useMusicBrainz = true;
    f.settings.useExistingYearTag = false;
    f.settings.selectedProvider = GetParam().provider;
    f.settings.appLanguage = AppLanguage::english;
    f.settings.apiKeys[AIProviderType::claude] = QStringLiteral("sk-live-SECRET");
    f.settings.customEndpoint = closedLoopbackUrl();
    f.settings.useSpotify = true, f.settings.spotifyClientId = "id", f.settings.spotifyClientSecret = "secret";
    f.copies("scan/tagged.mp3", 3);
    auto vm = f.makeViewModel();
    vm->startProcessing();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    EXPECT_EQ(vm->statistics().problems, 3);
    const QStringList log = AutoRunFixture::messages(*vm);
    EXPECT_EQ(log.filter(QRegularExpression("^MusicBrainz: could not connect: .+")).size(), 1) << log.join('\n').toStdString();
    EXPECT_EQ(log.filter(QRegularExpression(GetParam().line)).size(), 1) << log.join('\n').toStdString();
    EXPECT_EQ(log.filter("Spotify: unreadable answer").size(), 1);
    EXPECT_TRUE(log.filter("SECRET").isEmpty());
    EXPECT_TRUE(log.filter("\n").isEmpty()); // a server's text forges no line of its own
    ASSERT_EQ(vm->problemFiles().size(), 3);
    EXPECT_EQ(vm->problemFiles().at(0).status.failures().size(), 3);
}
INSTANTIATE_TEST_SUITE_P(, AutoModeViewModelFailingSourcesTest,
                         ::testing::Values(FailingAI{"Claude error", AIProviderType::claude,
                                                     "^Claude \\(Anthropic\\): Claude API error 500: "},
                                           FailingAI{"Ollama not running", AIProviderType::ollama,
                                                     "^Ollama \\(Local\\): could not connect: .+"}),
                         RowName());

// A write cancelled with files in flight, the problem sheet's or a run's, whose
// last file lands after another folder was chosen, or a run cancelled during its
// scan, which ends after that: it frees the write gate for both modes and leaves
// the new folder's screen as it was. A gate kept refuses every write until a
// restart; late results would fill the new folder's log, counters and problem
// list with files it does not hold.
namespace {
enum class Cancelled { sheetWrite, run, scan };
} // namespace
using AutoModeViewModelLateLandingTest = ::testing::TestWithParam<Cancelled>;

TEST_P(AutoModeViewModelLateLandingTest, ACancelledWriteLandingLateFreesTheGateAndLeavesTheNewFolderAlone) {
    const Cancelled cancelled = GetParam();
    const bool sheetWrite = cancelled == Cancelled::sheetWrite;
    AutoRunFixture f;
    const auto held = std::make_shared<HeldWriter>();
    f.writer = held;
    f.settings.useExistingYearTag = !sheetWrite;           // without it every file becomes a problem
    f.settings.maxConcurrentRequests = sheetWrite ? 1 : 3; // problems in list order; three writes in flight
    f.copies("scan/tagged.mp3", 3);
    auto vm = f.makeViewModel();
    const auto door = held->openAtEnd();
    vm->startProcessing();
    if (sheetWrite) {
        ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
        QList<MusicFile> list = vm->problemFiles();
        ASSERT_EQ(list.size(), 3);
        for (MusicFile& file : list) {
            file.manualYear = 1975;
        }
        vm->setProblemFiles(list);
        vm->updateResolvedFiles(list);
    }
    if (cancelled != Cancelled::scan) { // a scan hands its end over through the event loop: after the cancel
        ASSERT_TRUE(QTest::qWaitFor([&] { return held->waiting() == (sheetWrite ? 1 : 3); }, hangMs));
    }
    vm->cancelProcessing();
    QTemporaryDir other;
    vm->selectDirectory(other.path());
    const auto screen = [&] {
        return std::tuple(AutoRunFixture::messages(*vm), vm->statistics(), vm->problemFiles(), vm->progress(),
                          vm->isFinished(), vm->wasCancelled(), vm->completionTitle());
    };
    const auto before = screen();
    EXPECT_TRUE(std::get<0>(before).isEmpty());
    EXPECT_FALSE(vm->canStart()); // the cancelled work is still ending

    held->open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.gate.holder() == nullptr; }, hangMs));
    const char* landed[] = {"House 70er", "House 80er", "House"}; // a cancelled scan writes nothing
    EXPECT_EQ(f.genreOf(AutoRunFixture::name(1)), landed[int(cancelled)]);
    EXPECT_TRUE(screen() == before) << AutoRunFixture::messages(*vm).join('\n').toStdString();
    EXPECT_TRUE(vm->canStart());
    QObject manualMode;
    EXPECT_TRUE(f.gate.tryAcquire(&manualMode)); // as Manual mode's Update Selected takes it
}
INSTANTIATE_TEST_SUITE_P(, AutoModeViewModelLateLandingTest,
                         ::testing::Values(Cancelled::sheetWrite, Cancelled::run, Cancelled::scan),
                         ([](const auto& info) {
                             const char* names[] = {"ProblemSheetWrite", "Run", "Scan"};
                             return std::string(names[int(info.param)]);
                         }));
