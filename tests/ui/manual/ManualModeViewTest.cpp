#include "DoubleClicks.h"
#include "HeldAnswer.h"
#include "HeldWriter.h"
#include "ManualModeFixture.h"
#include "QtPrinters.h"
#include "TagProbe.h"
#include "TestHelpers.h"

#include "model/AppSettings.h"
#include "ui/auto/ProblemResolutionView.h"
#include "ui/manual/ManualModeView.h"
#include "ui/manual/StatusBadgeView.h"
#include "ui/manual/TableSelectionViewModel.h"
#include "ui/manual/YearEditSheet.h"

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QTextDocumentFragment>

#include <gtest/gtest.h>

namespace {

QPushButton* buttonOf(QWidget& view, const char* name) {
    return view.findChild<QPushButton*>(QLatin1String(name));
}

void clickHeader(QTableView* table, int column) {
    QHeaderView* header = table->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

QPoint cellCenter(QTableView* table, int row, int column) {
    return table->visualRect(table->model()->index(row, column)).center();
}

} // namespace

TEST(ManualModeViewTest, DropLookUpWriteAndUndoThroughTheScreen) {
    AppSettings::shared().setAppLanguage(AppLanguage::german);
    ManualModeFixture fx;
    LoopbackServer::Response found(200, LookupScenario::mbAnswer(1987, {}));
    found.delay = std::chrono::milliseconds(400);
    fx.server.script("GET", "/ws/2/recording", {found});
    ManualModeViewModel vm(fx.services());
    ManualModeView view(&vm);
    view.resize(900, 600);
    view.show();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(TestFiles::copyFixture("scan/tagged.mp3", fx.dir, "a.mp3")),
                  QUrl::fromLocalFile(TestFiles::copyFixture("scan/tagged.mp3", fx.dir, "b.mp3")),
                  QUrl(QStringLiteral("http://example.com/c.mp3"))});
    QWidget* emptyState =
        buttonOf(view, "chooseDirectoryButton")->parentWidget(); // the drop reaches the area
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(emptyState, &enter);
    EXPECT_TRUE(view.contentArea()->findChild<QWidget*>("dropOverlay")->isVisible());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
    drop.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(emptyState, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    ASSERT_EQ(vm.files().size(), 2);
    QTableView* table = view.table();
    view.findChild<QCheckBox*>("allCheckBox")->click();
    clickHeader(table, 4); // Year ascending
    QTest::mouseClick(buttonOf(view, "lookupButton"), Qt::LeftButton);
    ASSERT_TRUE(vm.isLookingUp());
    AppSettings::shared().setAppLanguage(AppLanguage::english); // mid-run
    EXPECT_EQ(buttonOf(view, "lookupButton")->text(), QStringLiteral("Start Lookup"));
    EXPECT_TRUE(vm.isLookingUp());
    EXPECT_EQ(table->model()->rowCount(), 2);
    EXPECT_EQ(vm.sortColumn(), SortColumn::year);
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    EXPECT_EQ(vm.files().at(0).status, ProcessingStatus::yearFound(1987));
    EXPECT_EQ(view.findChild<QWidget*>("counter1")->findChild<QLabel*>("count")->text(), QStringLiteral("2"));
    EXPECT_TRUE(view.selection().selection().isEmpty());
    view.findChild<QCheckBox*>("allCheckBox")->click();
    QTest::mouseClick(buttonOf(view, "updateButton"), Qt::LeftButton);
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    for (const MusicFile& f : vm.files()) {
        EXPECT_EQ(TagProbe::viaTagLib(f.url, AudioFormat::mp3).genre, QStringLiteral("House 80er"));
    }
    ASSERT_TRUE(buttonOf(view, "undoButton")->isVisible());
    waitPastDoubleClick(); // Undo has just taken Cancel's place
    QTest::mouseClick(buttonOf(view, "undoButton"), Qt::LeftButton);
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    for (const MusicFile& f : vm.files()) {
        EXPECT_EQ(TagProbe::viaTagLib(f.url, AudioFormat::mp3).genre, QStringLiteral("House"));
    }
    EXPECT_FALSE(buttonOf(view, "undoButton")->isVisible());
}

namespace {

struct ToolbarState {
    const char* name;
    std::function<void(ManualModeFixture&, ManualModeViewModel&, ManualModeView&)> setUp;
    const char* expected;
};
const ToolbarState toolbarStates[] = {
    {"empty", [](auto&, auto&, auto&) {}, "E-EDDDD---Y"},
    {"the folder /", [](auto&, auto& vm, auto&) { vm.chooseDirectory(QStringLiteral("/")); }, "EEEEDDD---Y"},
    {"files without a folder",
     [](auto& fx, auto& vm, auto&) {
         vm.addFiles({TestFiles::copyFixture("scan/tagged.mp3", fx.dir)});
         ManualModeFixture::waitIdle(vm);
     },
     "E-EDEED---Y"},
    {"only hidden rows checked",
     [](auto& fx, auto& vm, auto& view) {
         ManualModeFixture::load(vm, fx.dir, 2);
         view.selection().setSelected(vm.files().at(0).id, true);
         vm.setFilterText(QStringLiteral("nothing matches"));
     },
     "EEEEEEE---Y"},
    {"a problem file",
     [](auto& fx, auto& vm, ManualModeView& view) {
         ManualModeFixture::load(vm, fx.dir, 2, [](int i, MusicFile& f) {
             f.status = i ? ProcessingStatus::yearNotFound() : ProcessingStatus::pending();
         });
         // Row changes reach the toolbar in batches.
         EXPECT_TRUE(QTest::qWaitFor([&] { return !view.findChild<QWidget*>("problemsButton")->isHidden(); },
                                     hangMs));
     },
     "EEEEEEDE--Y"},
    {"undo offered",
     [](auto& fx, auto& vm, auto&) {
         ManualModeFixture::load(vm, fx.dir, 2);
         vm.updateSelected(ManualModeFixture::ids(vm));
         ManualModeFixture::waitIdle(vm);
     },
     "EEEEEED-E-Y"},
    {"busy",
     [](auto& fx, auto& vm, auto& view) {
         ManualModeFixture::load(vm, fx.dir, 2);
         view.selection().setSelected(vm.files().at(0).id, true);
         vm.startScan();
     },
     "DEEDDDD--EY"},
    {"a cancelled write still landing",
     [](auto& fx, auto& vm, auto& view) {
         ManualModeFixture::load(vm, fx.dir, 3);
         vm.updateSelected(ManualModeFixture::ids(vm));
         vm.cancelAll();
         view.selection().setSelected(vm.files().at(0).id, true);
     },
     "EEEEEED---N"},
};

} // namespace

using ManualModeViewToolbarTest = ::testing::TestWithParam<ToolbarState>;

TEST_P(ManualModeViewToolbarTest, ToolbarFollowsTheState) {
    // Per element: E shown and enabled, D shown and disabled, - left out; then whether the year sheet opens.
    const char* names[] = {"directoryButton", "folderName",   "toolbarDivider", "scanButton", "clearButton",
                           "lookupButton",    "updateButton", "problemsButton", "undoButton", "cancelButton"};
    const ToolbarState& c = GetParam();
    ManualModeFixture fx;
    ManualModeViewModel vm(fx.services(std::make_shared<SlowWriter>()));
    ManualModeView view(&vm);
    c.setUp(fx, vm, view);
    QString seen;
    for (const char* name : names) {
        QWidget* w = view.findChild<QWidget*>(QLatin1String(name));
        seen += w->isHidden() ? QLatin1Char('-') : w->isEnabled() ? QLatin1Char('E') : QLatin1Char('D');
    }
    view.openYearSheet(vm.files().value(0)); // refused while a write is landing
    seen += view.findChild<YearEditSheet*>() ? QLatin1Char('Y') : QLatin1Char('N');
    EXPECT_EQ(seen, QLatin1String(c.expected));
    EXPECT_TRUE(vm.selectedDirectory() != QStringLiteral("/") ||
                view.findChild<QLabel*>("folderName")->text() == "/");
    vm.cancelAll();
}
INSTANTIATE_TEST_SUITE_P(, ManualModeViewToolbarTest, ::testing::ValuesIn(toolbarStates), RowName());

TEST(ManualModeViewTest, HeadersStatusClicksAndMarkupShownLiterally) {
    AppSettings::shared().setAppLanguage(AppLanguage::english);
    ManualModeFixture fx;
    ManualModeViewModel vm(fx.services());
    ManualModeView view(&vm);
    view.resize(1200, 600);
    view.show();
    const QString markup = QStringLiteral("<img src=\"file:///x.png\"><b>bold</b>");
    ManualModeFixture::load(vm, fx.dir, 2, [&](int i, MusicFile& f) {
        f.title = markup;
        f.status = i ? ProcessingStatus::error(markup) : ProcessingStatus::yearNotFound();
    });
    QTableView* table = view.table();
    clickHeader(table, 5); // Decade
    EXPECT_TRUE(vm.sortColumn() == SortColumn::decade && vm.sortAscending());
    clickHeader(table, 5);
    EXPECT_FALSE(vm.sortAscending());
    clickHeader(table, 7); // Format: no sort, the indicator goes back
    EXPECT_EQ(vm.sortColumn(), SortColumn::decade);
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorSection(), 5);
    const int errorRow = vm.filteredFiles().at(0).status.kind() == ProcessingStatus::Kind::error ? 0 : 1;
    EXPECT_TRUE(table->model()->index(errorRow, 8).data(Qt::ToolTipRole).toString().contains("&lt;b&gt;"));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cellCenter(table, errorRow, 8));
    auto* popover = qobject_cast<QFrame*>(QApplication::activePopupWidget());
    ASSERT_NE(popover, nullptr);
    auto* detail = popover->findChild<QLabel*>("statusDetail");
    EXPECT_EQ(detail->text(), QStringLiteral("Write error: ") + markup);
    EXPECT_EQ(detail->textFormat(), Qt::PlainText);
    popover->close();
    // The row menu: on Title, Artist, Genre and Status only.
    const auto rightClick = [table](int column) {
        const QPoint at = cellCenter(table, 0, column);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
        QApplication::sendEvent(table->viewport(), &event);
    };
    rightClick(3); // Album
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    rightClick(6); // Genre
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (QAction* action : menu->actions()) {
        entries.append(action->text());
    }
    EXPECT_EQ(entries, QStringList({"Enter year manually\u2026", "", "Select"}));
    menu->close();
    // A double click on "Not found" opens the year sheet instead of the popover.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cellCenter(table, 1 - errorRow, 8));
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cellCenter(table, 1 - errorRow, 8));
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    auto* sheet = view.findChild<YearEditSheet*>();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->findChild<QLabel*>("info0")->textFormat(), Qt::PlainText);
    sheet->reject();
    vm.chooseDirectory(fx.dir.filePath("missing<i>"));
    vm.startScan();
    ManualModeFixture::waitIdle(vm);
    auto* alert = view.findChild<QMessageBox*>("errorAlert");
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->textFormat(), Qt::PlainText);
    EXPECT_EQ(alert->windowTitle(), QStringLiteral("Fehler"));
    alert->button(QMessageBox::Ok)->click();
    EXPECT_FALSE(vm.errorMessage());
}

TEST(ManualModeViewTest, StatusPopoverHoldsItsWrappedText) {
    const QString reason = QString(60, QLatin1Char('x')) + QStringLiteral(" was not read").repeated(20);
    const ProcessingStatus status = ProcessingStatus::yearNotFound(
        {{QStringLiteral("MusicBrainz"), SourceFailure::Reason::failed, reason}});
    for (AppLanguage language : {AppLanguage::german, AppLanguage::english}) {
        AppSettings::shared().setAppLanguage(language);
        // A badge in the top left corner: the popover stays on the screen.
        QFrame* popover = StatusBadgeView::showPopover(nullptr, status, {}, QRect(0, 0, 80, 20));
        EXPECT_TRUE(popover->screen()->availableGeometry().contains(popover->geometry()));
        for (auto* label : popover->findChildren<QLabel*>()) {
            const QRect room = label->contentsRect();
            const QRect needed = label->fontMetrics().boundingRect(room.adjusted(0, 0, 0, 10000),
                                                                   Qt::TextWordWrap, label->text());
            EXPECT_TRUE(room.width() >= needed.width() && room.height() >= needed.height()) << int(language);
        }
        delete popover;
    }
}

// At every width the toolbar keeps its height, and the table its place, when a
// run starts or ends (Cancel in place of Problems and Undo); at the smallest
// width the note of unreadable files keeps to the room the counters leave,
// every path and reason in its tooltip, shown as it is.
TEST(ManualModeViewTest, TableKeepsItsPlaceAtEveryWidthAndTheNoteFits) {
    for (AppLanguage language : {AppLanguage::german, AppLanguage::english}) {
        AppSettings::shared().setAppLanguage(language);
        ManualModeFixture fx;
        const QString unreadable =
            TestFiles::copyFixture("scan/not_audio.mp3", fx.dir, "a long <b>broken<i> name &amp;.mp3");
        ManualModeViewModel vm(fx.services());
        ManualModeView view(&vm);
        view.resize(900, 600);
        view.show();
        ManualModeFixture::load(vm, fx.dir, 3,
                                [](int, MusicFile& f) { f.status = ProcessingStatus::error({}); });
        QWidget* toolbar = view.findChild<QWidget*>("toolbar");
        const QList<QPushButton*> buttons = {buttonOf(view, "problemsButton"), buttonOf(view, "undoButton"),
                                             buttonOf(view, "cancelButton")};
        QSet<int> tops; // the walk crosses widths where the toolbar wraps
        for (int width = 1600; width >= 900; width -= 25) {
            view.resize(width, 600);
            int top = -1;
            for (const char* shown : {"...", "P..", ".U.", "PU.", "..C"}) { // Cancel only while busy
                for (int i = 0; i < 3; ++i) {
                    buttons[i]->setVisible(shown[i] != '.');
                }
                QCoreApplication::processEvents();
                const int y = view.table()->mapTo(&view, QPoint()).y();
                top = top < 0 ? y : top;
                EXPECT_EQ(y, top) << int(language) << " " << width << " " << shown;
                EXPECT_EQ(toolbar->height(), toolbar->heightForWidth(toolbar->width())) << width << shown;
            }
            tops.insert(top);
        }
        EXPECT_GT(tops.size(), 1);
        auto* note = view.findChild<QLabel*>("unreadableNote");
        EXPECT_EQ(view.width(), 900);
        EXPECT_LT(note->mapTo(&view, QPoint(note->width(), 0)).x(), 900);
        EXPECT_LE(note->fontMetrics().horizontalAdvance(note->text()), note->width());
        EXPECT_TRUE(note->isVisible() && note->textFormat() == Qt::PlainText);
        EXPECT_EQ(QTextDocumentFragment::fromHtml(note->toolTip()).toPlainText(),
                  unreadable + localizedText(" (Kein Audiostrom in der Datei gefunden)",
                                             " (No audio stream found in the file)"));
    }
}

namespace {

// A double-click on Cancel whose second click lands on the button that has
// just taken its place.
struct CancelRow {
    const char* name;
    enum Work { update, lookupWithProblems, lookupAfterWrite } work;
    const char* takesThePlace;
};
const CancelRow cancelRows[] = {
    {"Update Selected then Undo", CancelRow::update, "undoButton"},
    {"Lookup then Problems", CancelRow::lookupWithProblems, "problemsButton"},
    {"Lookup then Undo", CancelRow::lookupAfterWrite, "undoButton"},
};

} // namespace

using ManualModeViewDoubleClickTest = ::testing::TestWithParam<CancelRow>;

// The second click, 150 ms after Cancel, neither takes back the files just
// written nor opens the problem sheet.
TEST_P(ManualModeViewDoubleClickTest, SecondClickAfterCancelDoesNothing) {
    const CancelRow& row = GetParam();
    AppSettings::shared().setAppLanguage(AppLanguage::english);
    ManualModeFixture fx;
    const auto held = std::make_shared<HeldWriter>();
    ManualModeViewModel vm(fx.services(held));
    ManualModeView view(&vm);
    const auto door = held->openAtEnd();
    HeldAnswer answer(fx.server, "GET", "/ws/2/recording",
                      LoopbackServer::Response(200, LookupScenario::mbAnswer(1987, {})));
    ManualModeFixture::load(vm, fx.dir, 3, [&](int i, MusicFile& f) {
        f.discoveredYear = 1987;
        if (row.work == CancelRow::lookupWithProblems && i == 0) {
            f.status = ProcessingStatus::yearNotFound();
        }
    });
    QSet<QUuid> rest = ManualModeFixture::ids(vm);
    rest.remove(vm.files().at(0).id);
    if (row.work == CancelRow::lookupAfterWrite) {
        held->open();
        vm.updateSelected({vm.files().at(0).id});
        ASSERT_TRUE(ManualModeFixture::waitIdle(vm, hangMs));
        held->open(false);
    }
    if (row.work == CancelRow::update) {
        vm.updateSelected(rest);
        ASSERT_TRUE(QTest::qWaitFor([&] { return held->waiting() == 1; }, hangMs));
    } else {
        vm.lookupSelected(rest);
    }
    const auto labelled = [&] {
        int count = 0;
        for (const MusicFile& f : vm.files()) {
            count += TagProbe::viaTagLib(f.url, AudioFormat::mp3).genre == QStringLiteral("House 80er");
        }
        return count;
    };
    view.resize(900, 600);
    view.show(); // Cancel is shown with the window
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QPushButton* cancel = buttonOf(view, "cancelButton");
    ASSERT_TRUE(cancel->isVisible());
    const QPoint spot = cancel->mapTo(&view, cancel->rect().center());
    QPushButton* second = buttonOf(view, row.takesThePlace);
    slowDoubleClick(view, spot, 150, [&] {
        held->open(); // the write in flight lands
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !vm.isWriteInFlight() && view.childAt(spot) == second && second->isEnabled(); },
            hangMs));
    });
    const int written = labelled();
    answer.letGo();
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm, hangMs));
    EXPECT_FALSE(vm.isBusy());
    EXPECT_EQ(written, row.work == CancelRow::lookupWithProblems ? 0 : 1);
    EXPECT_EQ(labelled(), written);
    EXPECT_EQ(vm.canUndo(), written > 0);
    // The toolbar follows the rows in batches.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return buttonOf(view, "undoButton")->isVisible() == (written > 0); }, hangMs));
    EXPECT_EQ(view.findChild<ProblemResolutionView*>(), nullptr);
}
INSTANTIATE_TEST_SUITE_P(, ManualModeViewDoubleClickTest, ::testing::ValuesIn(cancelRows), RowName());
