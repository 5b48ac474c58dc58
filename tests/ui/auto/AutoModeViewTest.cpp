#include "ui/auto/AutoModeView.h"

#include "AutoRunFixture.h"
#include "ui/auto/ProblemResolutionView.h"

#include <QAbstractItemModel>
#include <QFrame>
#include <QLabel>
#include <QListView>
#include <QPushButton>

namespace {

QPushButton* button(QWidget& root, const QString& text) {
    for (QPushButton* b : root.findChildren<QPushButton*>()) {
        if (b->text() == text) {
            return b;
        }
    }
    return nullptr;
}

bool hasLabel(QWidget& root, const QString& text) {
    for (QLabel* label : root.findChildren<QLabel*>()) {
        if (label->text() == text && label->isVisible()) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(AutoModeView, RunReviewAndUndoThroughTheScreen) {
    AutoRunFixture f;
    f.copies("scan/tagged.mp3", 2);
    TestFiles::copyFixture("scan/blank_title.mp3", f.dir, "b.mp3");
    TestFiles::copyFixture("scan/not_audio.mp3", f.dir, "c.mp3");
    AutoModeView view(new AutoModeViewModel(f.dependencies()));
    AutoModeViewModel& vm = *view.viewModel();
    view.resize(900, 600);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_TRUE(hasLabel(view, "Choose a directory and start processing."));
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
    EXPECT_EQ(vm.log().size(), 8);

    QPushButton* review = button(view, "Review 1 problem(s)");
    ASSERT_NE(review, nullptr);
    QTest::mouseClick(review, Qt::LeftButton);
    ProblemResolutionView* sheet = view.problemSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(vm.problemFiles().size(), 1);
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_FALSE(vm.showProblemResolution());
    EXPECT_EQ(vm.problemFiles().size(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.problemSheet() == nullptr; }, 2000));

    EXPECT_EQ(f.genreOf("a001.mp3"), "House 80er");
    QPushButton* undo = button(view, "Undo");
    ASSERT_TRUE(undo && undo->isVisible() && undo->isEnabled());
    QTest::mouseClick(undo, Qt::LeftButton);
    QTest::mouseClick(undo, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm.isRunning(); }, 20000));
    EXPECT_FALSE(undo->isVisible());
    EXPECT_EQ(f.genreOf("a001.mp3"), "House");
    EXPECT_EQ(f.genreOf("a002.mp3"), "House");
    EXPECT_EQ(AutoRunFixture::messages(vm).last(), "Undo: 2 files restored.");
}
