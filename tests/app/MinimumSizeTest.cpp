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
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace {

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

// No visible button, label, tab or table column of `window` reaches out of
// sight; no button, tab or column is narrower than it asks to be.
void expectNothingCut(QWidget* window, const QString& where) {
    QTest::qWait(20);
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const bool button = qobject_cast<QAbstractButton*>(w) != nullptr;
        if ((button || qobject_cast<QLabel*>(w)) && w->isVisibleTo(window) &&
            w->parentWidget()->isVisibleTo(window)) {
            const std::string name = (where + w->property("text").toString().left(40)).toStdString();
            EXPECT_EQ(visibleWidth(w, window), w->width()) << name;
            EXPECT_TRUE(!button || w->width() >= w->sizeHint().width()) << name;
        }
    }
    for (QTabBar* bar : window->findChildren<QTabBar*>()) {
        for (int i = 0; bar->isVisibleTo(window) && i < bar->count(); ++i) {
            EXPECT_TRUE(bar->rect().contains(bar->tabRect(i))) << (where + bar->tabText(i)).toStdString();
        }
    }
    for (QTableView* table : window->findChildren<QTableView*>()) {
        QHeaderView* header = table->horizontalHeader();
        for (int c = 0; table->isVisibleTo(window) && c < header->count(); ++c) {
            const std::string column =
                (where + header->model()->headerData(c, Qt::Horizontal).toString()).toStdString();
            const QHeaderView::ResizeMode mode = header->sectionResizeMode(c);
            const int size = header->sectionSize(c);
            EXPECT_LE(header->sectionViewportPosition(c) + size, table->viewport()->width()) << column;
            EXPECT_GE(size, header->sectionSizeHint(c)) << column;
            EXPECT_TRUE(mode == QHeaderView::Stretch || mode == QHeaderView::Interactive ||
                        size >= static_cast<QAbstractItemView*>(table)->sizeHintForColumn(c))
                << column;
        }
    }
}

} // namespace

TEST(MinimumSizeTest, EveryScreenFitsInGermanAndEnglish) {
    AppSettings& settings = AppSettings::shared();
    const QList<DecadeRule> rules = settings.decadeRules();
    settings.setDecadeRules(rules + QList<DecadeRule>{{QUuid::createUuid(), -2147483647, 2147483647, "x"}});
    QTemporaryDir dir;
    const QString file = TestFiles::copyFixture(QStringLiteral("scan/tagged.mp3"), dir);
    for (AppLanguage language : {AppLanguage::german, AppLanguage::english}) {
        settings.setAppLanguage(language);
        ContentView window(settings,
                           SplashTimings{std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
        window.resize(window.minimumSize());
        window.show();
        ASSERT_EQ(window.size(), QSize(900, 600));
        // Qt's own texts (dialogs, standard buttons) speak the program's language.
        QDialogButtonBox qtButtons(QDialogButtonBox::Cancel);
        EXPECT_EQ(qtButtons.button(QDialogButtonBox::Cancel)->text(),
                  language == AppLanguage::german ? "Abbrechen" : "Cancel");
        auto& manual = static_cast<ManualModeView*>(window.page(ContentView::AppTab::manual))->viewModel();
        manual.addFiles({file});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !manual.files().isEmpty() && !manual.isBusy(); }, 60000));
        // The buttons Manual mode shows after a run, shown together with the rest.
        for (const char* name : {"problemsButton", "undoButton"}) {
            window.findChild<QAbstractButton*>(QLatin1String(name))->show();
        }
        for (int tab = 0; tab < window.tabs()->count(); ++tab) {
            window.tabs()->setCurrentIndex(tab);
            expectNothingCut(&window, window.tabs()->tabText(tab) + QLatin1Char(' '));
        }

        SettingsWindow::showWindow();
        SettingsWindow* settingsWindow = SettingsWindow::instance();
        ASSERT_EQ(settingsWindow->width(), 480);
        expectNothingCut(settingsWindow, QStringLiteral("settings"));
        for (QAbstractButton* tab : settingsWindow->view()->tabButtons()) {
            tab->click();
            expectNothingCut(settingsWindow, tab->text());
        }
        delete settingsWindow;

        // A title of any length is cut to the sheets, which keep their size.
        const QString longTitle(100000, QLatin1Char('W'));
        YearEditSheet sheet(
            musicFile(longTitle, longTitle), [](std::optional<int>) {}, &window);
        sheet.show();
        expectNothingCut(&sheet, QStringLiteral("year sheet"));
        ProblemResolutionView problems(
            {[&] { return QList<MusicFile>{musicFile(longTitle, longTitle)}; }, {}}, {}, &window);
        problems.resize(problems.minimumSize());
        problems.show();
        expectNothingCut(&problems, QStringLiteral("problem sheet"));
    }
    settings.setDecadeRules(rules);
}
