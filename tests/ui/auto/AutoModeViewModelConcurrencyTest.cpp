#include "AutoRunFixture.h"
#include "HeldWriter.h"
#include "Threads.h"

#include <thread>

namespace {

struct HeldRun : AutoRunFixture {
    std::shared_ptr<HeldWriter> held = std::make_shared<HeldWriter>();
    HeldRun() {
        writer = held;
        copies("scan/tagged.mp3", 6);
    }
    bool writesWaiting(int count) {
        return QTest::qWaitFor([&] { return held->waiting() == count; }, 20000);
    }
    bool allWritten() {
        const auto entries = undoLog.entries();
        return std::all_of(entries.begin(), entries.end(), [](const auto& e) { return e.written; });
    }
    // The problem files of a finished run of `vm` (made while useExistingYearTag was off, so that
    // every file is a problem), with the year the user typed in the sheet.
    QList<MusicFile> problemsTyped(AutoModeViewModel& vm, int year) {
        vm.startProcessing();
        EXPECT_TRUE(AutoRunFixture::awaitFinished(vm));
        QList<MusicFile> list = vm.problemFiles();
        for (MusicFile& file : list) {
            file.manualYear = year;
        }
        return list;
    }
    int genresEqual(const QString& genre) {
        int count = 0;
        for (int i = 1; i <= 6; ++i)
            count += genreOf(name(i)) == genre;
        return count;
    }
};

} // namespace

TEST(AutoModeViewModelConcurrencyTest, CancelWithWritesInFlightKeepsOneSessionAndOffersUndoAfterLanding) {
    HeldRun f;
    auto vm = f.makeViewModel();
    const auto door = f.held->openAtEnd();
    vm->startProcessing();
    ASSERT_TRUE(f.writesWaiting(3));
    vm->cancelProcessing();
    QTest::qWait(50);
    EXPECT_FALSE(vm->isRunning() || vm->canUndo() || vm->isFinished());
    EXPECT_EQ(f.gate.holder(), vm.get()); // the writes are still landing

    f.held->open();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    EXPECT_TRUE(vm->canUndo() && f.allWritten());
    EXPECT_EQ(f.gate.holder(), nullptr);
    EXPECT_EQ(f.undoLog.entries().size(), 3);
    EXPECT_EQ(vm->statistics().updated, 0); // their results were dropped
    EXPECT_EQ(f.genresEqual("House 80er"), 3);

    // A double click on Undo runs one undo.
    vm->undoLastWrite();
    vm->undoLastWrite();
    EXPECT_TRUE(vm->isRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm->isRunning(); }, 20000));
    QTest::qWait(50);
    EXPECT_EQ(AutoRunFixture::messages(*vm).filter("Undo:"), QStringList{"Undo: 3 files restored."});
    EXPECT_EQ(f.genresEqual("House"), 6);
    EXPECT_FALSE(vm->canUndo());
}

TEST(AutoModeViewModelConcurrencyTest, StartWaitsForTheWindDownAndOtherModeMixNoSession) {
    HeldRun f;
    QObject manualMode;
    auto vm = f.makeViewModel();
    const auto door = f.held->openAtEnd();
    vm->startProcessing();
    ASSERT_TRUE(f.writesWaiting(3));
    EXPECT_FALSE(f.gate.tryAcquire(&manualMode)); // Manual mode cannot write during the run
    vm->cancelProcessing();
    EXPECT_FALSE(vm->canStart()); // until the cancelled run's writes have landed
    vm->startProcessing();
    EXPECT_FALSE(vm->isRunning());

    f.held->open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return vm->canStart(); }, 20000));
    EXPECT_TRUE(vm->isFinished() && vm->wasCancelled() && vm->canUndo());
    vm->startProcessing();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    const QStringList lines = AutoRunFixture::messages(*vm);
    EXPECT_EQ(lines.filter("Starting processing: ").size(), 1);
    EXPECT_FALSE(lines.contains("Processing cancelled."));
    EXPECT_EQ(lines.last(), "Done: 3 updated, 3 skipped, 0 problems");
    EXPECT_EQ(vm->completionTitle(), "Processing completed successfully");
    // The new run's session holds only its own three writes.
    EXPECT_EQ(f.undoLog.entries().size(), 3);
    ASSERT_TRUE(vm->canUndo());

    // While Manual mode holds the gate, Start and Undo are refused; its own
    // session then leaves this mode nothing to undo.
    ASSERT_TRUE(f.gate.tryAcquire(&manualMode));
    EXPECT_TRUE(vm->writesBlocked() && !vm->canStart());
    vm->startProcessing();
    vm->undoLastWrite();
    EXPECT_FALSE(vm->isRunning());
    WriteUndoManager::UndoEntry entry;
    entry.url = f.dir.filePath("other.mp3");
    f.undoLog.markWritten(f.undoLog.recordEntry(entry, f.undoLog.openSession()));
    f.gate.release(vm.get()); // only the holder frees it
    EXPECT_EQ(f.gate.holder(), &manualMode);
    f.gate.release(&manualMode);
    EXPECT_TRUE(vm->canStart());
    EXPECT_FALSE(vm->canUndo());
}

TEST(AutoModeViewModelConcurrencyTest, CancelLeavesAnUndoRunningAndStartWaitsForIt) {
    HeldRun f;
    auto vm = f.makeViewModel();
    const auto door = f.held->openAtEnd();
    f.held->open();
    vm->startProcessing();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    f.held->open(false);
    vm->undoLastWrite();
    ASSERT_TRUE(f.writesWaiting(1));
    const QStringList before = AutoRunFixture::messages(*vm);
    vm->chooseDirectory(); // refused while the undo restores files
    EXPECT_EQ(AutoRunFixture::messages(*vm), before);
    vm->cancelProcessing(); // an undo is not cancelled
    EXPECT_FALSE(vm->canStart());
    vm->startProcessing(); // and no run reads files it is restoring
    QTest::qWait(50);
    EXPECT_FALSE(vm->isRunning());
    EXPECT_EQ(f.held->waiting(), 1);

    f.held->open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return vm->canStart(); }, 20000));
    EXPECT_EQ(AutoRunFixture::messages(*vm).last(), "Undo: 6 files restored.");
    vm->startProcessing();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    EXPECT_EQ(AutoRunFixture::messages(*vm).last(), "Done: 6 updated, 0 skipped, 0 problems");
    EXPECT_EQ(f.undoLog.entries().size(), 6);

    // A folder that cannot be worked on still offers the last run's undo.
    vm->selectDirectory(f.dir.filePath("gone"));
    vm->startProcessing();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(*vm));
    EXPECT_TRUE(vm->canUndo());
}

TEST(AutoModeViewModelConcurrencyTest, QuitDuringARunLetsBegunWritesLandAndFreesTheGate) {
    HeldRun f;
    auto vm = f.makeViewModel();
    const auto door = f.held->openAtEnd();
    vm->startProcessing();
    ASSERT_TRUE(f.writesWaiting(3));
    Threads::JoinedThreads opener;
    opener.start([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        f.held->open();
    });
    vm.reset();
    opener.joinAll();
    EXPECT_EQ(f.gate.holder(), nullptr);
    EXPECT_TRUE(f.allWritten());
    EXPECT_EQ(std::pair(f.genresEqual("House 80er"), f.genresEqual("House")), std::pair(3, 3));
}

// Cancel during the problem sheet's write stops it after the file being
// written: the rest keep their years in the list, the written one is undone.
TEST(AutoModeViewModelConcurrencyTest, CancelStopsTheProblemSheetsWrite) {
    HeldRun f;
    f.settings.useExistingYearTag = false;
    auto vm = f.makeViewModel();
    const auto door = f.held->openAtEnd();
    QList<MusicFile> list = f.problemsTyped(*vm, 1975);
    for (int i = 3; i < list.size(); ++i) {
        list[i].manualYear.reset();
    }
    vm->setProblemFiles(list);
    vm->updateResolvedFiles(list.mid(0, 3));
    ASSERT_TRUE(f.writesWaiting(1));
    vm->cancelProcessing();
    f.held->open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.gate.holder() == nullptr; }, 20000));
    EXPECT_EQ(f.genresEqual("House 70er"), 1);
    ASSERT_EQ(vm->problemFiles().size(), 5);
    EXPECT_EQ(vm->problemFiles().at(1).manualYear, 1975); // the rest keep their years
    ASSERT_TRUE(vm->canUndo());
    vm->undoLastWrite();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm->isRunning(); }, 20000));
    EXPECT_EQ(f.genresEqual("House"), 6);
}

// A problem-sheet write after an earlier Cancel (of a run, or of a sheet
// write) writes its files and ends as complete: the cancel belonged to the
// work it stopped.
using AutoModeViewModelWriteAfterCancelTest = ::testing::TestWithParam<bool>;

TEST_P(AutoModeViewModelWriteAfterCancelTest, ASheetWriteAfterACancelWritesItsFiles) {
    const bool cancelSheetWrite = GetParam();
    HeldRun f;
    f.settings.useExistingYearTag = false;
    auto vm = f.makeViewModel();
    const auto door = f.held->openAtEnd();
    const QList<MusicFile> list = f.problemsTyped(*vm, 1975);
    ASSERT_EQ(list.size(), 6);
    if (cancelSheetWrite) {
        vm->setProblemFiles(list);
        vm->updateResolvedFiles(list.mid(0, 1));
        ASSERT_TRUE(f.writesWaiting(1));
    } else {
        vm->startProcessing(); // a run cancelled during its scan
    }
    vm->cancelProcessing();
    f.held->open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.gate.holder() == nullptr && vm->isFinished(); }, 20000));
    EXPECT_TRUE(vm->wasCancelled());
    EXPECT_EQ(vm->completionTitle(), "Processing cancelled.");
    vm->setProblemFiles(list.mid(1));
    vm->updateResolvedFiles(list.mid(1, 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.gate.holder() == nullptr; }, 20000));
    EXPECT_EQ(f.genresEqual("House 70er"), cancelSheetWrite ? 3 : 2);
    EXPECT_EQ(vm->problemFiles().size(), 3);
    // The panel and the bar tell how the last write ended.
    EXPECT_EQ(std::tuple(vm->completionTitle(), vm->phaseText(), vm->overallFraction()),
              std::tuple(QString("Processing complete – with problems"), QString("Done"), 1.0));
}
INSTANTIATE_TEST_SUITE_P(, AutoModeViewModelWriteAfterCancelTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "AfterSheetWrite" : "AfterRun"; });
