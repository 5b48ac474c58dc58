#include "QtPrinters.h"
#include "TestFiles.h"
#include "TestHelpers.h"

#include "app/ContentView.h"
#include "model/AppSettings.h"
#include "ui/auto/ProblemResolutionView.h"
#include "ui/manual/ManualModeView.h"
#include "ui/manual/ManualModeViewModel.h"
#include "ui/manual/YearEditSheet.h"
#include "ui/settings/SettingsView.h"
#include "ui/settings/SettingsWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QHeaderView>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct TabHints : QTabBar {
    using QTabBar::tabSizeHint;
};

// The part of `widget`'s width that its ancestors up to `window` leave visible.
int visibleWidth(QWidget* widget, QWidget* window) {
    int left = 0;
    int right = widget->width();
    for (QWidget* w = widget; w != window && w->parentWidget() != nullptr; w = w->parentWidget()) {
        left = std::max(left + w->x(), 0);
        right = std::min(right + w->x(), w->parentWidget()->width());
    }
    return std::max(0, right - left);
}

// No visible button, tab or table column of `window` is narrower than it asks
// to be or reaches out of sight.
void expectNothingCut(QWidget* window, const QString& where) {
    QTest::qWait(20);
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(window) && button->parentWidget()->isVisibleTo(window)) {
            const std::string name = (where + QLatin1Char(' ') + button->text() + button->objectName()).toStdString();
            EXPECT_GE(button->width(), button->sizeHint().width()) << name;
            EXPECT_EQ(visibleWidth(button, window), button->width()) << name;
        }
    }
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->isVisibleTo(window) && label->parentWidget()->isVisibleTo(window)) {
            EXPECT_EQ(visibleWidth(label, window), label->width()) << (where + QLatin1Char(' ') + label->text().left(40)).toStdString();
        }
    }
    for (QTabBar* bar : window->findChildren<QTabBar*>()) {
        for (int i = 0; bar->isVisibleTo(window) && i < bar->count(); ++i) {
            const std::string name = (where + QLatin1Char(' ') + bar->tabText(i)).toStdString();
            EXPECT_TRUE(bar->rect().contains(bar->tabRect(i))) << name;
            EXPECT_GE(bar->tabRect(i).width(), (bar->*(&TabHints::tabSizeHint))(i).width()) << name;
        }
    }
    for (QTableView* table : window->findChildren<QTableView*>()) {
        QHeaderView* header = table->horizontalHeader();
        for (int c = 0; table->isVisibleTo(window) && c < header->count(); ++c) {
            const std::string column =
                (where + QLatin1Char(' ') + table->model()->headerData(c, Qt::Horizontal).toString()).toStdString();
            EXPECT_LE(header->sectionViewportPosition(c) + header->sectionSize(c), table->viewport()->width())
                << column;
            EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c)) << column;
            if (header->sectionResizeMode(c) != QHeaderView::Stretch &&
                header->sectionResizeMode(c) != QHeaderView::Interactive) {
                EXPECT_GE(header->sectionSize(c), static_cast<QAbstractItemView*>(table)->sizeHintForColumn(c)) << column;
            }
        }
    }
}

} // namespace

TEST(MinimumSize, EveryScreenFitsInGermanAndEnglish) {
    AppSettings& settings = AppSettings::shared();
    const QList<DecadeRule> rules = settings.decadeRules();
    settings.setDecadeRules(rules + QList<DecadeRule>{{QUuid::createUuid(), -2147483647, 2147483647, "x"}});
    QTemporaryDir dir;
    const QString file = TestFiles::copyFixture(QStringLiteral("scan/tagged.mp3"), dir);
    for (AppLanguage language : {AppLanguage::german, AppLanguage::english}) {
        settings.setAppLanguage(language);
        ContentView window(settings, SplashTimings{std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
        window.resize(window.minimumSize());
        window.show();
        ASSERT_EQ(window.size(), QSize(900, 600));
        // Qt's own texts (dialogs, standard buttons) speak the program's language.
        QDialogButtonBox qtButtons(QDialogButtonBox::Cancel);
        EXPECT_EQ(qtButtons.button(QDialogButtonBox::Cancel)->text(),
                  language == AppLanguage::german ? "Abbrechen" : "Cancel");
        auto& manual = static_cast<ManualModeView*>(window.page(ContentView::AppTab::manual))->viewModel();
        manual.addFiles({file});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !manual.files().isEmpty() && !manual.isBusy(); }, 10000));
        // The buttons Manual mode shows after a run, shown together with the rest.
        for (const char* name : {"problemsButton", "undoButton"}) {
            window.findChild<QAbstractButton*>(QLatin1String(name))->show();
        }
        for (int tab = 0; tab < window.tabs()->count(); ++tab) {
            window.tabs()->setCurrentIndex(tab);
            expectNothingCut(&window, window.tabs()->tabText(tab));
        }

        SettingsWindow::showWindow();
        SettingsWindow* settingsWindow = SettingsWindow::instance();
        ASSERT_NE(settingsWindow, nullptr);
        EXPECT_EQ(settingsWindow->width(), 480);
        expectNothingCut(settingsWindow, QStringLiteral("settings"));
        for (QAbstractButton* tab : settingsWindow->view()->tabButtons()) {
            tab->click();
            expectNothingCut(settingsWindow, tab->text());
        }
        delete settingsWindow;

        // A title of any length is cut to the sheets, which keep their size.
        const QString longTitle(100000, QLatin1Char('W'));
        YearEditSheet sheet(musicFile(longTitle, longTitle), [](std::optional<int>) {}, &window);
        sheet.show();
        EXPECT_LE(sheet.width(), window.width());
        expectNothingCut(&sheet, QStringLiteral("year sheet"));
        ProblemResolutionView problems({[&] { return QList<MusicFile>{musicFile(longTitle, longTitle)}; }, {}},
                                       {}, &window);
        problems.resize(problems.minimumSize());
        problems.show();
        EXPECT_LE(problems.width(), window.width());
        expectNothingCut(&problems, QStringLiteral("problem sheet"));
    }
    settings.setDecadeRules(rules);
}
