#include "ui/auto/AutoModeView.h"

#include "AutoRunFixture.h"
#include "DoubleClicks.h"
#include "HeldAnswer.h"
#include "HeldWriter.h"
#include "LookupScenario.h"
#include "TestHelpers.h"
#include "ui/auto/ProblemResolutionView.h"

#include <QAbstractItemModel>
#include <QElapsedTimer>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyleHints>
#include <QTabWidget>
#include <QTableView>
#include <QWheelEvent>

namespace {

template <typename T> T* find(QWidget& root, const QString& text) {
    const auto all = root.findChildren<T*>();
    const auto it =
        std::find_if(all.begin(), all.end(), [&](T* w) { return w->text() == text && w->isVisible(); });
    return it == all.end() ? nullptr : *it;
}
QPushButton* button(QWidget& root, const QString& text) {
    return find<QPushButton>(root, text);
}
bool hasLabel(QWidget& root, const QString& text) {
    return find<QLabel>(root, text) != nullptr;
}

// Sets `f` up for a run of `files` copies written one at a time, each only once the test lets it
// through the writer this returns.
std::shared_ptr<HeldWriter> writeOneAtATime(AutoRunFixture& f, int files) {
    auto held = std::make_shared<HeldWriter>();
    f.writer = held;
    f.settings.maxConcurrentRequests = 1;
    f.copies("scan/tagged.mp3", files);
    return held;
}

// Lets at least `files` more through the held writer (one at a time) and waits until the log drew
// their lines.
void letThrough(AutoModeViewModel& vm, HeldWriter& held, const QListView& log, int files) {
    const int until = vm.progress().current + files;
    held.open();
    EXPECT_TRUE(QTest::qWaitFor([&] { return vm.progress().current >= until; }, hangMs));
    held.open(false);
    const QAbstractItemModel* rows = log.model();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return held.waiting() == 1 &&
                   rows->index(rows->rowCount() - 1, 0).data() == vm.log().last().message;
        },
        hangMs));
}

// An Auto screen on show, its run of `files` copies written one at a time (writeOneAtATime), and
// its log. Its end opens the writer before the screen goes, so that begun writes land.
struct HeldLogScreen {
    explicit HeldLogScreen(int files) : held(writeOneAtATime(f, files)) {
        view.resize(900, 400);
        view.show();
    }
    bool atEnd() const { return bar->maximum() > 0 && bar->value() == bar->maximum(); }
    void letThrough(int files) { ::letThrough(vm, *held, *log, files); }

    AutoRunFixture f;
    const std::shared_ptr<HeldWriter> held;
    AutoModeView view{new AutoModeViewModel(f.dependencies())};
    const HeldWriter::OpenAtEnd door = held->openAtEnd();
    AutoModeViewModel& vm = *view.viewModel();
    QListView* const log = view.findChild<QListView*>();
    QScrollBar* const bar = log->verticalScrollBar();
};

} // namespace

TEST(AutoModeViewTest, RunReviewAndUndoThroughTheScreen) {
    AutoRunFixture f;
    f.copies("scan/tagged.mp3", 2);
    TestFiles::copyFixture("scan/blank_title.mp3", f.dir, "b.mp3");
    TestFiles::copyFixture("scan/not_audio.mp3", f.dir, "c.mp3");
    // The year editor lives in Manual mode: this one saves `typed` at once (none for "Skip").
    std::optional<int> typed;
    const auto restoreOpener =
        qScopeGuard([old = ProblemResolutionView::setDefaultYearEditorOpener(
                         [&](QWidget*, const MusicFile&, auto onSave) { onSave(typed); })] {
            ProblemResolutionView::setDefaultYearEditorOpener(old);
        });
    AutoModeView view(new AutoModeViewModel(f.dependencies()));
    AutoModeViewModel& vm = *view.viewModel();
    view.resize(900, 600);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    ASSERT_FALSE(button(view, "Start")->isEnabled());

    QTest::mouseClick(button(view, "Choose Directory"), Qt::LeftButton);
    EXPECT_TRUE(hasLabel(view, "Ready. Press \"Start\" to begin processing."));
    QTest::mouseClick(button(view, "Start"), Qt::LeftButton);
    EXPECT_TRUE(button(view, "Cancel")->isVisible());
    EXPECT_FALSE(button(view, "Choose Directory")->isEnabled());

    auto* panel = view.findChild<QFrame*>("completionPanel");
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->isVisible(); }, 20000));
    EXPECT_TRUE(hasLabel(view, "Processing complete – with problems"));
    EXPECT_TRUE(hasLabel(view, "2 updated · 0 skipped · 2 problems"));
    EXPECT_TRUE(hasLabel(view, "4 / 4"));
    EXPECT_TRUE(hasLabel(view, "100 %"));
    EXPECT_EQ(view.findChild<QListView*>()->model()->rowCount(), vm.log().size());

    QPushButton* review = button(view, "Review 1 problem(s)");
    ASSERT_NE(review, nullptr);
    QTest::mouseClick(review, Qt::LeftButton);
    ProblemResolutionView* sheet = view.problemSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    for (QPushButton* b : sheet->findChildren<QPushButton*>()) {
        EXPECT_FALSE(b->isDefault() || b->autoDefault()) << b->text().toStdString();
    }
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_TRUE(sheet->isVisible());
    QTableView* table = sheet->table();
    // "Skip" takes an entered year back: Update Selected would not write it.
    for (const std::optional<int> year : {std::optional(1975), std::optional<int>(), std::optional(1990)}) {
        typed = year;
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualRect(table->model()->index(0, 5)).center());
        EXPECT_EQ(vm.problemFiles().first().manualYear, year);
        EXPECT_EQ(button(*sheet, "Update Selected")->isEnabled(), year.has_value());
    }
    // "Update Selected" writes the typed year as a write of its own; Undo restores only that one.
    const QString before = f.genreOf("b.mp3");
    QTest::mouseClick(button(*sheet, "Update Selected"), Qt::LeftButton);
    EXPECT_FALSE(vm.showProblemResolution());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm.isRunning(); }, 20000));
    EXPECT_TRUE(vm.problemFiles().isEmpty());
    EXPECT_EQ(button(view, "Review 1 problem(s)"), nullptr);
    EXPECT_TRUE(hasLabel(view, "3 updated · 0 skipped · 1 problems"));
    EXPECT_TRUE(f.genreOf("b.mp3").endsWith("90er"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.problemSheet() == nullptr; }, hangMs));

    auto* undo = view.findChild<QPushButton*>("undoButton");
    EXPECT_EQ(undo->text(), "Undo (1 file)");
    waitPastDoubleClick();                                    // Start has just taken Cancel's place
    QTest::mouseClick(button(view, "Start"), Qt::LeftButton); // writes nothing: Undo reaches back
    ASSERT_TRUE(AutoRunFixture::awaitFinished(vm));
    EXPECT_TRUE(undo->text().startsWith("Undo run of ") && undo->text().endsWith(" (1 file)"))
        << undo->text().toStdString();
    view.resize(900, 300); // the newest log line stays in sight in a smaller window
    auto* log = view.findChild<QListView*>();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return log->visualRect(log->model()->index(log->model()->rowCount() - 1, 0)).bottom() <=
                   log->viewport()->height();
        },
        hangMs));
    ASSERT_TRUE(undo->isVisible() && undo->isEnabled());
    QTest::mouseClick(undo, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm.isRunning(); }, 20000));
    EXPECT_FALSE(undo->isVisible());
    EXPECT_EQ(f.genreOf("b.mp3"), before);
    EXPECT_EQ(f.genreOf("a001.mp3"), "House 80er");
    EXPECT_EQ(AutoRunFixture::messages(vm).last(), "Undo: 1 files restored.");
}

// The log follows each new run to its end, also after the user scrolled up in
// the one before, and shows every line the log holds also once it is full.
TEST(AutoModeViewTest, LogFollowsEachNewRun) {
    AutoRunFixture f;
    f.copies("scan/tagged.mp3", AutoModeViewModel::maxLogEntries + 10);
    AutoModeView view(new AutoModeViewModel(f.dependencies()));
    view.resize(900, 400);
    view.show();
    view.viewModel()->chooseDirectory();
    QScrollBar* bar = view.findChild<QListView*>()->verticalScrollBar();
    for (int run = 0; run < 2; ++run) {
        view.viewModel()->startProcessing();
        ASSERT_TRUE(AutoRunFixture::awaitFinished(*view.viewModel()));
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }, hangMs))
            << run;
        const QAbstractItemModel* rows = view.findChild<QListView*>()->model();
        QStringList shown;
        for (int i = 0; i < rows->rowCount(); ++i) {
            shown << rows->index(i, 0).data().toString();
        }
        EXPECT_EQ(shown, AutoRunFixture::messages(*view.viewModel())) << run;
        bar->triggerAction(QAbstractSlider::SliderToMinimum); // the user reads the start of the log
    }
}

// The full log follows new lines when its tab comes back after lines were
// dropped at its front meanwhile, also with a row current and after the user
// scrolled up and back to the end.
TEST(AutoModeViewTest, LogFollowsAcrossTabSwitches) {
    AutoRunFixture f;
    const auto held = writeOneAtATime(f, AutoModeViewModel::maxLogEntries + 100);
    QTabWidget tabs;
    auto* view = new AutoModeView(new AutoModeViewModel(f.dependencies()));
    tabs.addTab(view, "Auto");
    tabs.addTab(new QWidget, "Settings");
    const auto door = held->openAtEnd();
    tabs.resize(900, 400);
    tabs.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&tabs));
    AutoModeViewModel& vm = *view->viewModel();
    auto* log = view->findChild<QListView*>();
    QScrollBar* bar = log->verticalScrollBar();
    const QAbstractItemModel* rows = log->model();
    const auto more = [&](int files) {
        letThrough(vm, *held, *log, files);
    };
    vm.chooseDirectory();
    vm.startProcessing();
    more(AutoModeViewModel::maxLogEntries);
    log->setFocus(Qt::TabFocusReason); // the user tabs into it: its first row becomes current
    for (int round = 0; round < 3; ++round) {
        tabs.setCurrentIndex(1);
        more(10);
        tabs.setCurrentIndex(0);
        more(10);
        EXPECT_TRUE(bar->maximum() > 0 && bar->value() == bar->maximum()) << round;
        EXPECT_LE(log->visualRect(rows->index(rows->rowCount() - 1, 0)).bottom(), log->viewport()->height())
            << round;
        bar->triggerAction(QAbstractSlider::SliderToMinimum); // the user reads back, then returns to the end
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
    }
    held->open();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(vm));
}

// Only the user's own scrolling ends following. A click on a line of the full log selects it and
// the log goes on following; scrolled up, the lines in view stay where they are as lines come
// and the front is dropped; back at the end, it follows again, also below its limit.
TEST(AutoModeViewTest, LogFollowsAfterAClickAndHoldsStillWhileReadBack) {
    HeldLogScreen s(AutoModeViewModel::maxLogEntries + 200);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s.view));
    const auto topOf = [&](const QString& line) {
        const QModelIndexList rows =
            s.log->model()->match(s.log->model()->index(0, 0), Qt::DisplayRole, line);
        return rows.isEmpty() ? -1 : s.log->visualRect(rows.first()).top();
    };
    const auto wheelUp = [&] {
        QWheelEvent up(QPointF(50, 50), s.log->viewport()->mapToGlobal(QPointF(50, 50)), {}, QPoint(0, 360),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(s.log->viewport(), &up);
    };
    const auto pageUp = [&] {
        s.log->setCurrentIndex(s.log->model()->index(s.log->model()->rowCount() - 1, 0)); // the newest line
        QTest::keyClick(s.log, Qt::Key_PageUp); // to the top line in view
        QTest::keyClick(s.log, Qt::Key_PageUp);
    };
    s.vm.chooseDirectory();
    s.vm.startProcessing();
    // Below the limit, then full; going back to the end by the scroll bar.
    for (const auto& [files, scrollUp] :
         {std::pair<int, std::function<void()>>(40, wheelUp),
          std::pair<int, std::function<void()>>(AutoModeViewModel::maxLogEntries, pageUp)}) {
        s.letThrough(files);
        EXPECT_TRUE(s.atEnd()) << files;
        scrollUp();
        const QString line = s.log->indexAt(QPoint(1, 1)).data().toString();
        const int top = topOf(line);
        s.letThrough(20);
        EXPECT_FALSE(s.atEnd()) << files;
        EXPECT_EQ(topOf(line), top) << files;
        s.bar->triggerAction(QAbstractSlider::SliderToMaximum);
        s.letThrough(5);
        EXPECT_TRUE(s.atEnd()) << files;
    }
    // A list scrolls to a clicked line once the double-click interval has passed, also where lines
    // that came meanwhile moved it out of view.
    QStyleHints* hints = QGuiApplication::styleHints();
    const auto restore = qScopeGuard(
        [hints, old = hints->mouseDoubleClickInterval()] { hints->setMouseDoubleClickInterval(old); });
    hints->setMouseDoubleClickInterval(2000);
    const QModelIndex clicked = s.log->indexAt(s.log->viewport()->rect().center());
    const QString line = clicked.data().toString();
    QElapsedTimer sinceClick;
    sinceClick.start();
    QTest::mouseClick(s.log->viewport(), Qt::LeftButton, {}, s.log->visualRect(clicked).center());
    s.letThrough(30); // the clicked line leaves the view
    if (sinceClick.elapsed() >= 2000) {
        GTEST_SKIP() << "the machine was too busy to move the line out of view within the interval";
    }
    QTest::qWait(2200 - int(sinceClick.elapsed()));
    EXPECT_TRUE(s.atEnd());
    s.letThrough(5);
    EXPECT_TRUE(s.atEnd());
    const QModelIndexList selected = s.log->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().data().toString(), line);
    s.held->open();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(s.vm));
}

// With no line current, keys move from the lines in view, not from the first line: End goes to
// the newest line and follows it, also where the log was at its end already, and Down starts from
// the top line in view. No line is current at first, nor once the current one is dropped.
TEST(AutoModeViewTest, KeysWithNoCurrentLineMoveFromTheLinesInView) {
    HeldLogScreen s(AutoModeViewModel::maxLogEntries + 100);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s.view));
    const auto pressEndAndFollow = [&](Qt::KeyboardModifiers modifiers) {
        QTest::keyClick(s.log, Qt::Key_End, modifiers);
        EXPECT_EQ(s.log->currentIndex().row(), s.log->model()->rowCount() - 1) << modifiers;
        s.letThrough(5);
        EXPECT_TRUE(s.atEnd()) << modifiers;
    };
    s.vm.chooseDirectory();
    s.vm.startProcessing();
    s.letThrough(40);
    pressEndAndFollow(Qt::NoModifier);
    s.letThrough(AutoModeViewModel::maxLogEntries);
    for (const auto& [key, modifiers] : {std::pair(Qt::Key_End, Qt::KeyboardModifiers()),
                                         std::pair(Qt::Key_End, Qt::KeyboardModifiers(Qt::ControlModifier)),
                                         std::pair(Qt::Key_Down, Qt::KeyboardModifiers())}) {
        s.bar->triggerAction(QAbstractSlider::SliderToMinimum);
        QTest::mouseClick(s.log->viewport(), Qt::LeftButton, {},
                          s.log->visualRect(s.log->indexAt({1, 1})).center());
        s.bar->triggerAction(QAbstractSlider::SliderToMaximum);
        s.letThrough(5); // the clicked line is dropped at the front
        ASSERT_FALSE(s.log->currentIndex().isValid());
        for (int page = 0; page < 3; ++page) { // the user reads back
            s.bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        }
        if (key == Qt::Key_End) {
            pressEndAndFollow(modifiers);
        } else {
            const int top = s.log->indexAt({1, 1}).row();
            QTest::keyClick(s.log, key);
            EXPECT_EQ(s.log->currentIndex().row(), top + 1);
            EXPECT_FALSE(s.atEnd());
        }
    }
    s.held->open();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(s.vm));
}

// Cancel clicked early in a large run of files whose years resolve at once
// stops it within the files in flight; Start and Cancel taking turns leave the
// counters, bars and log where they were, and the counter has room for the
// total's digits.
TEST(AutoModeViewTest, CancelEarlyInALargeRunStopsWithinTheFilesInFlight) {
    AutoRunFixture f;
    f.copies("scan/tagged.mp3", 2000);
    AutoModeView view(new AutoModeViewModel(f.dependencies()));
    AutoModeViewModel& vm = *view.viewModel();
    view.resize(900, 600);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const auto written = [&] {
        const auto entries = f.undoLog.entries();
        return std::count_if(entries.begin(), entries.end(), [](const auto& e) { return e.written; });
    };
    // Where the counters and the log stand: before the run, during it, after it.
    const auto places = [&] {
        return std::pair(find<QLabel>(view, "Total")->mapTo(&view, QPoint()).y(),
                         view.findChild<QListView*>()->parentWidget()->mapTo(&view, QPoint()).y());
    };
    QTest::mouseClick(button(view, "Choose Directory"), Qt::LeftButton);
    const int idleCounters = places().first;
    QTest::mouseClick(button(view, "Start"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return vm.progress().current >= 20; }, 60000));
    QPushButton* cancel = button(view, "Cancel");
    ASSERT_NE(cancel, nullptr);
    const auto running = places();
    const auto labels = view.findChildren<QLabel*>();
    const auto counter =
        std::find_if(labels.begin(), labels.end(), [](QLabel* l) { return l->text().endsWith(" / 2000"); });
    ASSERT_NE(counter, labels.end());
    EXPECT_GE((*counter)->width(), (*counter)->fontMetrics().horizontalAdvance("2000 / 2000"));
    waitPastDoubleClick(); // Cancel has just taken Start's place
    const qsizetype writtenAtClick = written();
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(AutoRunFixture::awaitFinished(vm));
    EXPECT_TRUE(vm.wasCancelled());
    EXPECT_LE(written() - writtenAtClick, vm.concurrency());
    EXPECT_TRUE(hasLabel(view, "Processing cancelled."));
    // The counters stand where they stood before the run; the log where it stood during it.
    for (const auto& [state, place] : {std::pair("running", running), std::pair("ended", places())}) {
        EXPECT_EQ(place, std::pair(idleCounters, running.second)) << state;
    }
}

namespace {

// A double-click whose first click lands on Start or Cancel and whose
// second lands on the button that has just taken its place.
struct TurnRow {
    const char* name;
    bool cancelFirst; // Cancel while a write is in flight; else Start
    int labelled;     // the files written by the run the first click left
    const char* undo; // what the completion panel then offers
};
const TurnRow turnRows[] = {
    {"Cancel then Start", true, 1, "Undo (1 file)"},
    {"Start then Cancel", false, 3, "Undo (3 files)"},
};

} // namespace

using AutoModeViewDoubleClickTest = ::testing::TestWithParam<TurnRow>;

// The second click, 150 ms after the first, neither starts a run (which
// would write the rest of the folder and replace the undo) nor cancels one.
TEST_P(AutoModeViewDoubleClickTest, SecondClickOnTheButtonThatTookThePlaceDoesNothing) {
    const TurnRow& row = GetParam();
    AutoRunFixture f;
    const auto held = std::make_shared<HeldWriter>();
    f.writer = held;
    f.settings.maxConcurrentRequests = 1;
    f.copies("scan/tagged.mp3", 3);
    AutoModeView view(new AutoModeViewModel(f.dependencies()));
    const auto door = held->openAtEnd();
    AutoModeViewModel& vm = *view.viewModel();
    vm.chooseDirectory();
    if (row.cancelFirst) {
        vm.startProcessing();
        ASSERT_TRUE(QTest::qWaitFor([&] { return held->waiting() == 1; }, hangMs));
    }
    view.resize(900, 600);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const auto named = [&](const char* text) {
        const auto all = view.findChildren<QPushButton*>();
        return *std::find_if(all.begin(), all.end(), [&](QPushButton* b) { return b->text() == text; });
    };
    QPushButton* first = named(row.cancelFirst ? "Cancel" : "Start");
    QPushButton* second = named(row.cancelFirst ? "Start" : "Cancel");
    ASSERT_TRUE(first->isVisible());
    const QPoint spot = first->mapTo(&view, first->rect().center());
    slowDoubleClick(view, spot, 150, [&] {
        if (row.cancelFirst) {
            held->open(); // the write in flight lands and the cancelled run ends
        }
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return view.childAt(spot) == second && second->isEnabled(); }, hangMs));
    });
    held->open();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(vm));
    EXPECT_EQ(vm.wasCancelled(), row.cancelFirst);
    int labelled = 0;
    for (int i = 1; i <= 3; ++i) {
        labelled += f.genreOf(AutoRunFixture::name(i)) == "House 80er";
    }
    EXPECT_EQ(labelled, row.labelled);
    auto* undo = view.findChild<QPushButton*>("undoButton");
    // The screen draws a run's results in batches.
    EXPECT_TRUE(QTest::qWaitFor([&] { return undo->isVisible() && undo->text() == row.undo; }, hangMs))
        << undo->text().toStdString();
}
INSTANTIATE_TEST_SUITE_P(, AutoModeViewDoubleClickTest, ::testing::ValuesIn(turnRows), RowName());

// Total, Updated, Skipped and Problems each show their own count under their
// caption while a run goes, not only at its end; Undo hides while a write of
// this mode runs.
TEST(AutoModeViewTest, CountersFollowTheRunAndUndoHidesWhileAWriteRuns) {
    AutoRunFixture f;
    const auto held = std::make_shared<HeldWriter>();
    held->open();
    f.writer = held;
    LoopbackServer server;
    MusicBrainzPacer pacer(std::chrono::milliseconds(0));
    MusicBrainzTiming timing = LookupScenario::quickTiming();
    timing.requestTimeout = std::chrono::milliseconds(2 * hangMs); // longer than the answer is held
    f.lookup = std::make_shared<YearLookupService>(server.endpoints(), timing, pacer);
    f.settings.useMusicBrainz = true;
    f.settings.maxConcurrentRequests = 1; // in list order: updated, skipped, skipped, looked up
    f.copies("scan/tagged.mp3", 3);
    for (int i : {2, 3}) {
        f.writer->writeGenre("House 80er", std::nullopt, std::nullopt, std::nullopt,
                             f.dir.filePath(AutoRunFixture::name(i)), AudioFormat::mp3, std::nullopt);
    }
    TestFiles::copyFixture("scan/numeric_artist.mp3", f.dir, AutoRunFixture::name(4)); // no year
    AutoModeView view(new AutoModeViewModel(f.dependencies()));
    HeldAnswer answer(server, "GET", "/ws/2/recording", {200, LookupScenario::mbEmpty});
    const auto door = held->openAtEnd();
    AutoModeViewModel& vm = *view.viewModel();
    view.resize(900, 600);
    view.show();
    const auto counters = [&] {
        QStringList values;
        const auto labels = view.findChildren<QLabel*>();
        for (const char* caption : {"Total", "Updated", "Skipped", "Problems"}) {
            // The value stands right under its caption.
            const QLabel* title = find<QLabel>(view, caption);
            const QLabel* value = nullptr;
            for (const QLabel* l : labels) {
                if (l->isVisible() && l->x() == title->x() && l->y() > title->y() &&
                    (!value || l->y() < value->y())) {
                    value = l;
                }
            }
            values << (value ? value->text() : QString());
        }
        return values.join(' ');
    };
    vm.chooseDirectory();
    vm.startProcessing();
    ASSERT_TRUE(QTest::qWaitFor([&] { return vm.progress().current == 3; }, hangMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return counters() == "4 1 2 0"; }, hangMs)) << counters().toStdString();
    EXPECT_TRUE(vm.isRunning());
    answer.letGo();
    ASSERT_TRUE(AutoRunFixture::awaitFinished(vm));
    EXPECT_EQ(counters(), "4 1 2 1");

    auto* undo = view.findChild<QPushButton*>("undoButton");
    ASSERT_TRUE(undo->isVisible());
    held->open(false);
    QList<MusicFile> problems = vm.problemFiles();
    ASSERT_EQ(problems.size(), 1);
    problems[0].manualYear = 1990;
    vm.setProblemFiles(problems);
    vm.updateResolvedFiles(problems);
    ASSERT_TRUE(QTest::qWaitFor([&] { return held->waiting() == 1; }, hangMs));
    EXPECT_TRUE(vm.canUndo() && vm.isRunning());
    EXPECT_FALSE(undo->isVisible());
    held->open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm.isRunning(); }, hangMs));
    EXPECT_TRUE(undo->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return counters() == "4 2 2 0"; }, hangMs)) << counters().toStdString();
}
