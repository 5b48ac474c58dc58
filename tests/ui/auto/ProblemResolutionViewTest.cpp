#include "ui/auto/ProblemResolutionView.h"

#include "model/AppLanguage.h"

#include "QtPrinters.h"

#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct Sheet {
    QList<MusicFile> list;
    QList<QList<MusicFile>> doneCalls;
    QPointer<ProblemResolutionView> view;
    QList<int> opened; // rows whose year editor was asked for

    explicit Sheet(int files) {
        for (int i = 0; i < files; ++i) {
            MusicFile file;
            file.id = QUuid::createUuid();
            file.title = QStringLiteral("Track %1").arg(i);
            file.status = ProcessingStatus::yearNotFound();
            list << file;
        }
        view = new ProblemResolutionView(
            {[this] { return list; }, [this](const QList<MusicFile>& l) { list = l; }},
            [this](const QList<MusicFile>& result) {
                doneCalls << result;
                view->accept(); // the presenter closes the sheet
            },
            nullptr,
            [this](QWidget*, const MusicFile& file, std::function<void(std::optional<int>)> onSave,
                   std::function<void()> onClosed) {
                for (int i = 0; i < list.size(); ++i) {
                    if (list[i].id == file.id) {
                        opened << i;
                    }
                }
                onSave(1987);
                onClosed();
            });
        view->open();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view));
    }
    ~Sheet() { delete view; }
};

} // namespace

TEST(ProblemResolutionView, ReturnDoesNothingEscapeKeepsEveryFile) {
    Sheet sheet(2);
    for (QPushButton* button : sheet.view->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->text().toStdString();
    }
    QTest::keyClick(sheet.view, Qt::Key_Return);
    QTest::keyClick(sheet.view, Qt::Key_Enter);
    EXPECT_TRUE(sheet.doneCalls.isEmpty());
    EXPECT_TRUE(sheet.view->isVisible());

    QTest::keyClick(sheet.view, Qt::Key_Escape);
    ASSERT_EQ(sheet.doneCalls.size(), 1);
    EXPECT_EQ(sheet.doneCalls.first().size(), 2);
    EXPECT_FALSE(sheet.view->isVisible());
    sheet.view->close();
    EXPECT_EQ(sheet.doneCalls.size(), 1);
}

TEST(ProblemResolutionView, ActionCellOpensTheEditorAndUpdateSelectedReturnsTheYears) {
    Sheet sheet(3);
    QPushButton* update = nullptr;
    for (QPushButton* button : sheet.view->findChildren<QPushButton*>()) {
        if (button->text() == localizedText("Ausgewählte aktualisieren", "Update Selected")) {
            update = button;
        }
    }
    ASSERT_NE(update, nullptr);
    EXPECT_FALSE(update->isEnabled());

    QTableView* table = sheet.view->table();
    const QRect cell = table->visualRect(table->model()->index(1, 5));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(sheet.opened, QList<int>{1});
    EXPECT_EQ(sheet.list[1].manualYear, 1987);
    EXPECT_FALSE(sheet.view->viewModel().yearEditFile());
    EXPECT_TRUE(update->isEnabled());

    QTest::mouseClick(update, Qt::LeftButton);
    ASSERT_EQ(sheet.doneCalls.size(), 1);
    ASSERT_EQ(sheet.doneCalls.first().size(), 1);
    EXPECT_EQ(sheet.doneCalls.first().first().title, "Track 1");
}
