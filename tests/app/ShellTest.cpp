#include "ConsoleCapture.h"
#include "HeldAnswer.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"
#include "TestHelpers.h"

#include "app/AboutWindowController.h"
#include "app/ContentView.h"
#include "app/FileLimit.h"
#include "app/SplashScreenView.h"
#include "app/UpdateAlert.h"
#include "app/VelmoraApp.h"
#include "model/AppSettings.h"
#include "services/UpdateCheckService.h"
#include "ui/DisclaimerView.h"
#include "ui/Look.h"
#include "ui/WebLinks.h"
#include "ui/auto/ProblemResolutionView.h"
#include "ui/help/HelpTopics.h"
#include "ui/help/HelpView.h"
#include "ui/manual/ManualFileTable.h"
#include "ui/manual/ManualModeView.h"
#include "ui/manual/YearEditSheet.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {

AppSettings& settings() {
    return AppSettings::shared();
}

void setAccepted(bool accepted) {
    SettingsStore& store = settings().store();
    accepted ? store.setBool(QLatin1String(disclaimerAcceptedKey), true)
             : store.remove(QLatin1String(disclaimerAcceptedKey));
    store.commit();
}

bool storedAcceptance() {
    const auto value =
        SettingsStore(settings().store().filePath()).object(QLatin1String(disclaimerAcceptedKey));
    return value && value->isBool() && value->toBool();
}

// Collects what would have been opened in the browser.
struct OpenedLinks {
    QList<QUrl> urls;
    OpenedLinks() {
        WebLinks::setOpener([this](const QUrl& url) {
            urls << url;
            return true;
        });
    }
    ~OpenedLinks() { WebLinks::setOpener({}); }
};

} // namespace

TEST(ShellTest, SoftFileLimit) {
    const std::vector<std::array<std::uint64_t, 3>> cases = {
        {1024, 4096, 4096},     {1024, RLIM_INFINITY, 65536}, {200000, RLIM_INFINITY, 65536},
        {1024, 1048576, 65536}, {1024, 65536, 65536},
    };
    for (const auto& [soft, hard, expected] : cases) {
        EXPECT_EQ(computeSoftLimit(soft, hard), expected) << soft << ' ' << hard;
    }
    ConsoleCapture console;
    raiseOpenFileLimit();
    rlimit now{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &now), 0);
    EXPECT_EQ(
        console.lines(),
        QStringList{QStringLiteral("[App] File descriptor limit set to %1").arg(quint64(now.rlim_cur))});
}

TEST(ShellTest, UpdateAlertTextsAndDownload) {
    using Kind = UpdateCheckResult::Kind;
    struct Case {
        UpdateCheckResult result;
        AppLanguage language;
        QString title;
        QString message;
        QStringList buttons;
    };
    const QString markup = QStringLiteral("<b>x</b> <a href='file:///etc'>y</a>");
    const auto en = AppLanguage::english, de = AppLanguage::german;
    // clang-format off
    const std::vector<Case> cases = {
        {{Kind::upToDate, "1.2.0 (7)", {}}, en, "No Updates Available",
         "You are already using the latest version 1.2.0 (7).", {"OK"}},
        {{Kind::upToDate, "1.2.0 (7)", {}}, de, "Keine Updates verfügbar",
         "Du verwendest bereits die aktuelle Version 1.2.0 (7).", {"OK"}},
        {{Kind::updateAvailable, "1.2 (6)", markup}, en, "Update Available — Version 1.2 (6)",
         "A new version of Velmora is available.\n\n" + markup, {"Download", "Later"}},
        {{Kind::updateAvailable, "1.2 (6)", QString()}, de, "Update verfügbar — Version 1.2 (6)",
         "Eine neue Version von Velmora ist verfügbar.", {"Herunterladen", "Später"}},
        {{Kind::networkError, "HTTP 404", {}}, en, "Update Check Failed",
         "Server not reachable. Please check your internet connection.\n\nHTTP 404", {"OK"}},
        {{Kind::parseError, {}, {}}, de, "Update-Prüfung fehlgeschlagen",
         "Die Versionsinformation konnte nicht gelesen werden.", {"OK"}},
    };
    // clang-format on
    QWidget parent;
    const QUrl download(QStringLiteral("https://velmora.example/downloads/Velmora-Linux.tar.gz"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        settings().setAppLanguage(c.language);
        QMessageBox* box = presentUpdateResult(c.result, &parent, download);
        EXPECT_EQ(box->text(), c.title);
        EXPECT_EQ(box->informativeText(), c.message);
        EXPECT_EQ(textsOf(box->buttons()), c.buttons);
        for (const char* name : {"qt_msgbox_label", "qt_msgbox_informativelabel"}) {
            const auto* label = box->findChild<QLabel*>(QLatin1String(name));
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << name;
        }
        if (c.result.kind == Kind::updateAvailable) {
            OpenedLinks opened;
            box->buttons().at(0)->click(); // Download / Herunterladen
            EXPECT_EQ(opened.urls, QList<QUrl>{download});
        }
        delete box;
    }
}

TEST(ShellTest, WebLinksOpenOnlyWebAddresses) {
    OpenedLinks opened;
    // clang-format off
    const std::vector<std::pair<const char*, bool>> cases = {
        {"https://velmora.example/?ref=app", true}, {"HTTP://musicbrainz.org", true},
        {"file:///etc/passwd", false}, {"javascript:alert(1)", false}, {"ftp://example.org/x", false},
        {"https:///nohost", false}, {"velmora://open", false},
    };
    // clang-format on
    for (const auto& [url, accepted] : cases) {
        EXPECT_EQ(WebLinks::open(QUrl(QString::fromLatin1(url))), accepted) << url;
    }
    EXPECT_EQ(opened.urls.size(), 2);
}

TEST(ShellTest, DisclaimerGateEndToEnd) {
    settings().setAppLanguage(AppLanguage::english);
    setAccepted(false);
    settings().store().setString(QLatin1String(disclaimerAcceptedKey), QStringLiteral("true"));
    EXPECT_FALSE(hasAcceptedDisclaimer()); // only a stored Boolean true counts
    setAccepted(false);

    ContentView window(settings(), SplashTimings{300ms, 100ms});
    window.show();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window.disclaimer() != nullptr && window.disclaimer()->isVisible(); }));
    DisclaimerView* gate = window.disclaimer();
    EXPECT_EQ(QApplication::activeModalWidget(), gate);
    EXPECT_TRUE(QTest::qWaitForWindowActive(gate));
    EXPECT_EQ(gate->size(), QSize(580, 600));
    ASSERT_NE(window.splash(), nullptr);
    EXPECT_EQ(window.splash()->parentWidget(), &window); // an overlay, not a window of its own
    EXPECT_EQ(window.splash()->focusPolicy(), Qt::NoFocus);

    QTest::keyClick(gate, Qt::Key_Escape);
    QTest::qWait(20);
    EXPECT_TRUE(gate->isVisible());

    // The card goes on time even while the gate is up.
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.splash() == nullptr; }, hangMs));
    EXPECT_TRUE(gate->isVisible());

    QTest::keyClick(gate, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.disclaimer() == nullptr; }));
    EXPECT_TRUE(storedAcceptance());

    ContentView next(settings(), SplashTimings{50ms, 10ms});
    next.show();
    // The gate is asked for as the window shows, before the card's timer ends.
    ASSERT_TRUE(QTest::qWaitFor([&] { return next.splash() == nullptr; }, hangMs));
    EXPECT_EQ(next.disclaimer(), nullptr);
}

TEST(ShellTest, ClosingTheGateQuitsWithoutAccepting) {
    setAccepted(false);
    ContentView window(settings(), SplashTimings{50ms, 10ms});
    QSignalSpy quit(&window, &ContentView::quitRequested);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.disclaimer() != nullptr; }));
    window.disclaimer()->close();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(storedAcceptance());

    // The reading form closes with Escape and leaves the flag alone.
    DisclaimerView reading(false);
    reading.show();
    QTest::keyClick(&reading, Qt::Key_Escape);
    EXPECT_FALSE(reading.isVisible());
    EXPECT_FALSE(storedAcceptance());

    window.close();
    EXPECT_EQ(quit.count(), 2); // closing the main window ends the program too
}

TEST(ShellTest, LanguageChangeKeepsTheScreens) {
    setAccepted(true);
    settings().setAppLanguage(AppLanguage::german);
    VelmoraApp app(SplashTimings{10s, 10ms});
    ContentView* window = app.mainWindow();
    window->show();
    QList<QWidget*> pages;
    for (int i = 0; i < window->tabs()->count(); ++i) {
        pages << window->tabs()->widget(i);
    }
    SplashScreenView* splash = window->splash();
    ASSERT_NE(splash, nullptr);
    window->selectTab(ContentView::AppTab::help);
    const QUuid third = helpTopics().at(2).id;
    window->helpView()->selectTopic(third);

    struct Case {
        AppLanguage language;
        QStringList tabs;
        QStringList menu;
        QString topic;
        QString rights;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {AppLanguage::english, {"Manual Mode", "Auto Mode", "Settings", "Help"},
         {"Über Velmora", "Check for Updates…", "", "Settings…", "Quit Velmora"}, "Auto Mode", "All rights reserved."},
        {AppLanguage::german, {"Manueller Modus", "Auto-Modus", "Einstellungen", "Hilfe"},
         {"Über Velmora", "Nach Updates suchen…", "", "Einstellungen…", "Velmora beenden"}, "Auto-Modus",
         "Alle Rechte vorbehalten."},
    };
    // clang-format on
    for (const Case& c : cases) {
        settings().setAppLanguage(c.language);
        QStringList tabs;
        for (int i = 0; i < window->tabs()->count(); ++i) {
            tabs << window->tabs()->tabText(i);
            EXPECT_EQ(window->tabs()->widget(i), pages.at(i));
        }
        EXPECT_EQ(tabs, c.tabs);
        EXPECT_EQ(textsOf(app.appMenu()->actions()), c.menu);
        EXPECT_EQ(window->tabs()->currentIndex(), int(ContentView::AppTab::help));
        EXPECT_EQ(window->helpView()->selectedTopic(), third);
        EXPECT_EQ(textsOf(window->helpView()->findChildren<QLabel*>(QStringLiteral("topicTitle"))),
                  QStringList{c.topic});
        EXPECT_TRUE(Look::rightsLine().endsWith(c.rights));
        EXPECT_EQ(window->splash(), splash);
    }
    EXPECT_EQ(app.appMenu()->actions().at(0)->shortcut(), QKeySequence());
    EXPECT_EQ(app.appMenu()->actions().at(4)->shortcut(), QKeySequence(QKeySequence::Quit));
    EXPECT_EQ(app.appMenu()->actions().at(3)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
}

TEST(ShellTest, AboutWindowIsOneFixedWindow) {
    AboutWindowController::shared().show();
    QWidget* window = AboutWindowController::shared().window();
    EXPECT_EQ(window->minimumSize(), QSize(340, 420));
    EXPECT_EQ(window->maximumSize(), QSize(340, 420));
    window->close(); // hidden, not destroyed: the same window comes back
    AboutWindowController::shared().show();
    EXPECT_EQ(AboutWindowController::shared().window(), window);
    EXPECT_TRUE(window->isVisible());
    window->close();
}

TEST(ShellTest, UpdateCheckFromTheMenu) {
    setAccepted(true);
    settings().setAppLanguage(AppLanguage::english);
    LoopbackServer server;
    server.script("GET", "/downloads/version.json", {{404, "{}"}});
    std::optional<HeldAnswer> held;
    {
        // The check's request outlasts the held answer: a program that waited for it would end
        // only once the server answered.
        VelmoraApp app(SplashTimings{50ms, 10ms},
                       std::make_shared<UpdateCheckService>(server.endpoints(), "1.0", "1",
                                                            std::chrono::milliseconds(10 * hangMs)));
        app.mainWindow()->show();
        app.appMenu()->actions().at(1)->trigger();
        EXPECT_NE(QGuiApplication::overrideCursor(), nullptr); // hidden while the check runs
        QMessageBox* box = nullptr;
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return (box = app.mainWindow()->findChild<QMessageBox*>()) != nullptr; }));
        EXPECT_TRUE(box->informativeText().endsWith(QStringLiteral("\n\nHTTP 404")));
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        held.emplace(server, "GET", "/downloads/version.json", LoopbackServer::Response(200, "{}"));
        app.runUpdateCheck(); // still waiting when the program ends: cancelled, not waited out
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests().size() == 2; }, hangMs));
    }
    EXPECT_EQ(held->sent(), 0);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// Every control the help names in bold is one of the screens' buttons or tabs,
// spelt as shown there (a count in a label reads N); the columns it lists are
// the Manual table's headers, all of them, in their order.
TEST(ShellTest, HelpNamesTheButtonsAsTheScreensShowThem) {
    const QRegularExpression count(QStringLiteral("\\d+"));
    for (AppLanguage language : {AppLanguage::german, AppLanguage::english}) {
        settings().setAppLanguage(language);
        ContentView window(settings(), SplashTimings{0ms, 0ms});
        YearEditSheet sheet(
            musicFile(QStringLiteral("t")), [](std::optional<int>) {}, &window);
        ProblemResolutionView problems({[] { return QList<MusicFile>{musicFile(QStringLiteral("t"))}; }, {}},
                                       {}, &window);
        QAbstractItemModel* rows = problems.findChild<QTableView*>()->model();
        QStringList shown = {rows->index(0, rows->columnCount() - 1).data().toString()}; // "Enter year…"
        for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
            shown << button->text().replace(count, QStringLiteral("N"));
        }
        for (QTabBar* bar : window.findChildren<QTabBar*>()) {
            for (int i = 0; i < bar->count(); ++i) {
                shown << bar->tabText(i);
            }
        }
        const QAbstractItemModel* table = window.findChild<ManualModeView*>()->table()->model();
        QStringList headers;
        for (int column = 0; column < table->columnCount(); ++column) {
            if (const QString header = table->headerData(column, Qt::Horizontal).toString();
                !header.isEmpty()) {
                headers << header;
            }
        }
        QStringList columnsListed; // the bold names of the item that names the first column
        for (const HelpTopic& topic : helpTopics()) {
            for (const HelpSection& section : topic.sections) {
                for (const HelpItem& item : section.items) {
                    auto bold =
                        QRegularExpression(QStringLiteral("\\*\\*(.+?)\\*\\*")).globalMatch(item.text());
                    QStringList names;
                    while (bold.hasNext()) {
                        for (const QString& name : bold.next().captured(1).split(QStringLiteral(" -> "))) {
                            EXPECT_TRUE(shown.contains(name) || headers.contains(name)) << name.toStdString();
                            names << name;
                        }
                    }
                    if (names.value(0) == headers.value(0)) {
                        columnsListed = names;
                    }
                }
            }
        }
        EXPECT_EQ(headers.size(), ManualFileTableModel::columnCount_ - 1); // all but the tick
        EXPECT_EQ(columnsListed, headers);
    }
}
