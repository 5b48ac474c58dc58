#include "ui/auto/AutoModeView.h"

#include "AutoRunFixture.h"
#include "TestHelpers.h"
#include "ui/auto/ProblemResolutionView.h"

#include <QAbstractItemModel>
#include <QFrame>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTableView>

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

} // namespace

TEST(AutoModeViewTest, RunReviewAndUndoThroughTheScreen) {
    AutoRunFixture f;
    f.copies("scan/tagged.mp3", 2);
    TestFiles::copyFixture("scan/blank_title.mp3", f.dir, "b.mp3");
    TestFiles::copyFixture("scan/not_audio.mp3", f.dir, "c.mp3");
    // The year editor lives in Manual mode: this one saves 1990 at once.
    ProblemResolutionView::setDefaultYearEditorOpener(
        [](QWidget*, const MusicFile&, auto onSave) { onSave(1990); });
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
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualRect(table->model()->index(0, 5)).center());
    EXPECT_EQ(vm.problemFiles().first().manualYear, 1990);
    EXPECT_TRUE(button(*sheet, "Update Selected")->isEnabled());
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
    QTest::mouseClick(button(view, "Start"), Qt::LeftButton); // writes nothing: Undo reaches back
    ASSERT_TRUE(AutoRunFixture::awaitFinished(vm));
    EXPECT_TRUE(undo->text().startsWith("Undo run of ") && undo->text().endsWith(" (1 file)")) << undo->text().toStdString();
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

// The log follows each new run to its end, also after the user scrolled up in the one before.
TEST(AutoModeViewTest, LogFollowsEachNewRun) {
    AutoRunFixture f;
    f.copies("scan/tagged.mp3", 30);
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
        bar->setValue(0); // the user reads the start of the log
    }
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
