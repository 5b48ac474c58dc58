#include "AutoRunFixture.h"

#include "LogCapture.h"
#include "LookupScenario.h"
#include "LoopbackServer.h"

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <atomic>

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

TEST(AutoModeViewModel, OutcomeTable) {
    AutoRunFixture f;
    struct Row {
        VM::ProcessingTaskResult result;
        VM::Statistics counters;
        VM::LogKind kind;
        QString line;
        bool listed;
    };
    const Row rows[] = {
        {result(Kind::loadFailed, {}, false), {0, 0, 0, 1}, VM::LogKind::error, "Read error: Song.mp3", false},
        {result(Kind::yearNotFound), {0, 0, 0, 1}, VM::LogKind::error, "Year not found: Song.mp3", true},
        {result(Kind::writeFailed, "disk full"), {0, 0, 0, 1}, VM::LogKind::error, "Error: Song.mp3 – disk full", true},
        {result(Kind::skipped, "?"), {0, 0, 1, 0}, VM::LogKind::skipped,
         "Skipped: Song.mp3 – decade label \"?\" already present", false},
        {result(Kind::alreadyUpToDate), {0, 0, 1, 0}, VM::LogKind::skipped, "Skipped: Song.mp3 – already up to date",
         false},
        {result(Kind::updated, "House 80er"), {0, 1, 0, 0}, VM::LogKind::success, "Updated: Song.mp3 → 80er", false},
        {result(Kind::updated, "Deep House"), {0, 1, 0, 0}, VM::LogKind::success, "Updated: Song.mp3 → Deep House",
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

TEST(AutoModeViewModel, LogAndProblemListStayBounded) {
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

TEST(AutoModeViewModel, DebugTrailPerOutcome) {
    AutoRunFixture f;
    LogCapture capture;
    TestFiles::copyFixture("scan/tagged.mp3", f.dir, "new.mp3");
    TestFiles::copyFixture("scan/blank_title.mp3", f.dir, "noyear.mp3");
    TestFiles::copyFixture("scan/not_audio.mp3", f.dir, "broken.mp3");
    TestFiles::copyFixture("scan/tagged.mp3", f.dir, "labelled.mp3");
    {
        TagLib::FileRef ref(QFile::encodeName(f.dir.filePath("labelled.mp3")).constData());
        ref.tag()->setGenre("House 80er");
        ref.tag()->setTitle("Two\nLines");
        ASSERT_TRUE(ref.save());
    }
    const auto deps = f.dependencies();
    VM::JobContext context{std::make_shared<FileScannerService>(), std::make_shared<UniversalTagReader>(),
                           std::make_shared<YearLookupService>(), deps.updateService, &DebugLogger::shared(),
                           deps.settings, CancelToken(), f.undoLog.openSession()};
    struct Row {
        const char* name;
        Kind kind;
        QStringList trail;
    };
    const Row rows[] = {
        {"labelled.mp3", Kind::skipped, {"LOAD", "LOADED", "SKIP"}},
        {"noyear.mp3", Kind::yearNotFound, {"LOAD", "LOADED", "LOOKUP START", "LOOKUP END"}},
        {"broken.mp3", Kind::loadFailed, {"LOAD", "LOAD FAILED"}},
        {"new.mp3", Kind::updated, {"LOAD", "LOADED", "LOOKUP START", "LOOKUP END", "DONE"}},
    };
    for (int i = 0; i < 4; ++i) {
        const VM::ProcessingTaskResult r = VM::processFile(context, f.dir.filePath(rows[i].name), i, 12);
        EXPECT_EQ(r.outcome.kind, rows[i].kind) << rows[i].name;
        const QString prefix = QStringLiteral("[%1/0012] ").arg(i + 1, 4, 10, QLatin1Char('0'));
        QStringList trail;
        for (const QString& line : capture.entries()) {
            const QString message = line.section(QLatin1Char('|'), 1);
            if (message.startsWith(prefix)) {
                trail << message.mid(prefix.size()).section(QLatin1Char(':'), 0, 0);
            }
        }
        EXPECT_EQ(trail, rows[i].trail) << rows[i].name;
    }
    // A line break in a tag stays inside its one debug line.
    EXPECT_TRUE(capture.entries().filter(QStringLiteral("title=\"Two\\nLines\"")).size() == 1);
    EXPECT_EQ(f.genreOf("new.mp3"), "House 80er");
    EXPECT_EQ(VM::positionPrefix(11, 10000), "0012/10000");
}

TEST(AutoModeViewModel, FolderThatCannotBeWorkedOn) {
    struct Row {
        bool missing;
        VM::ProcessingPhase phase;
        QString lastLine;
    };
    const Row rows[] = {{false, VM::ProcessingPhase::done, "No audio files found."},
                        {true, VM::ProcessingPhase::scanning, "Error: "}};
    for (const Row& row : rows) {
        AutoRunFixture f;
        auto vm = f.makeViewModel();
        if (row.missing) {
            vm->selectDirectory(f.dir.filePath("gone"));
        }
        vm->startProcessing();
        ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
        const QStringList lines = AutoRunFixture::messages(*vm);
        ASSERT_EQ(lines.size(), 3) << lines.join(" | ").toStdString();
        EXPECT_TRUE(lines[0].startsWith("Starting processing: "));
        EXPECT_EQ(lines[1], "Scanning directory…");
        EXPECT_TRUE(lines[2].startsWith(row.lastLine));
        EXPECT_EQ(vm->log().last().kind, VM::LogKind::error);
        EXPECT_EQ(vm->phase(), row.phase);
        EXPECT_EQ(vm->statistics(), VM::Statistics{});
        EXPECT_EQ(vm->progress(), VM::Progress{});
        EXPECT_EQ(vm->failureLine(), lines[2]);
    }
}

TEST(AutoModeViewModel, ConcurrencySettingIsBounded) {
    const std::pair<int, int> rows[] = {{0, 1}, {50, 10}};
    for (const auto& [setting, width] : rows) {
        AutoRunFixture f;
        f.copies("scan/blank_title.mp3", 1);
        f.settings.maxConcurrentRequests = setting;
        auto vm = f.makeViewModel();
        vm->startProcessing();
        ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
        EXPECT_EQ(vm->concurrency(), width);
        EXPECT_TRUE(AutoRunFixture::messages(*vm).contains(
            QStringLiteral("Found: 1 audio files. Starting processing (%1 concurrent)…").arg(width)));
        EXPECT_EQ(AutoRunFixture::messages(*vm).last(), "Done: 0 updated, 0 skipped, 1 problems");
    }
}

TEST(AutoModeViewModel, WindowNeverExceedsWidthAndStartsInListOrder) {
    AutoRunFixture f;
    LogCapture capture;
    LoopbackServer server;
    std::atomic<int> inFlight{0};
    std::atomic<int> peak{0};
    server.handle("GET", "/ws/2/recording", [&](const LoopbackServer::Request&) {
        const int now = ++inFlight;
        peak = std::max(peak.load(), now);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        --inFlight;
        return LoopbackServer::Response(200, LookupScenario::mbEmpty);
    });
    MusicBrainzPacer pacer(std::chrono::milliseconds(0));
    f.lookup = std::make_shared<YearLookupService>(server.endpoints(), LookupScenario::quickTiming(), pacer);
    f.settings.useMusicBrainz = true;
    f.settings.useExistingYearTag = false;
    f.settings.maxConcurrentRequests = 3;
    f.copies("scan/tagged.mp3", 10);
    auto vm = f.makeViewModel();
    vm->startProcessing();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    EXPECT_EQ(peak.load(), 3);
    EXPECT_EQ(vm->statistics().problems, 10);
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

TEST(AutoModeViewModel, CancelDuringScanAndWhileIdle) {
    AutoRunFixture f;
    f.copies("scan/tagged.mp3", 4);
    auto vm = f.makeViewModel();
    vm->cancelProcessing();
    EXPECT_EQ(AutoRunFixture::messages(*vm), QStringList{"Processing cancelled."});
    EXPECT_FALSE(vm->isRunning());

    vm->startProcessing();
    vm->cancelProcessing(); // the scan is on the pool: the run has not seen a file yet
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    const QStringList lines = AutoRunFixture::messages(*vm);
    EXPECT_EQ(lines.count("Processing cancelled."), 2);
    EXPECT_TRUE(lines.contains("Found: 4 audio files. Starting processing (3 concurrent)…"));
    EXPECT_FALSE(lines.last().startsWith("Done"));
    EXPECT_EQ(vm->progress(), (VM::Progress{4, 4}));
    EXPECT_EQ(vm->statistics().updated, 0);
    EXPECT_TRUE(vm->wasCancelled());
    EXPECT_EQ(f.genreOf("a001.mp3"), "House");
}
