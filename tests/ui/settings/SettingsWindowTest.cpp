#include "ui/settings/SettingsWindow.h"
#include "ui/DisclaimerView.h"
#include "ui/settings/AIProviderPage.h"
#include "ui/settings/DataSourcesPage.h"
#include "ui/settings/FileChooser.h"
#include "ui/settings/InfoPage.h"
#include "ui/settings/ProcessingPage.h"
#include "ui/settings/SearchReplacePage.h"
#include "ui/settings/SettingsView.h"

#include "LoopbackServer.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Hands out the path the test chose, as if the user had picked it.
class ScriptedChooser : public FileChooser {
public:
    explicit ScriptedChooser(QString* path) : m_path(path) {}
    void chooseSaveFile(QWidget*, const QString&, Done done) override { done(*m_path); }
    void chooseOpenFile(QWidget*, Done done) override { done(*m_path); }

private:
    QString* m_path;
};

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Opens the editor of a cell, types into it and leaves it open.
QLineEdit* typeIntoCell(QTableView* table, const QModelIndex& index, const QString& text) {
    table->edit(index);
    auto* editor = qobject_cast<QLineEdit*>(table->indexWidget(index));
    if (editor != nullptr) {
        editor->selectAll();
        QTest::keyClicks(editor, text);
    }
    return editor;
}

TEST(SettingsWindowTest, EditsEverySettingFromTheWindowEndToEnd) {
    AppSettings& settings = AppSettings::shared();
    settings.setAppLanguage(AppLanguage::english);
    settings.setSelectedProvider(AIProviderType::claude);
    settings.setDecadeRules(defaultDecadeRules());
    LoopbackServer server;
    server.script("GET", "/api/tags", {{200, R"({"models":[{"name":"model-a"},{"name":"model-b"}]})"}});
    QTemporaryDir dir;
    QString chosen;
    FileChooser::setCurrent(std::make_unique<ScriptedChooser>(&chosen));
    const auto restoreChooser = qScopeGuard([] { FileChooser::setCurrent(nullptr); });

    // One window, raised again when asked twice; showing it writes nothing (a stored 50
    // reads as the 10 that runs use); a second screen opens on the tab chosen here.
    settings.setMaxConcurrentRequests(50);
    const QByteArray beforeOpen = fileBytes(SettingsStore::defaultFilePath());
    SettingsWindow::showWindow();
    SettingsWindow* window = SettingsWindow::instance();
    ASSERT_NE(window, nullptr);
    SettingsWindow::showWindow();
    EXPECT_EQ(SettingsWindow::instance(), window);
    EXPECT_EQ(window->width(), 480);
    QTest::qWait(50);
    EXPECT_EQ(fileBytes(SettingsStore::defaultFilePath()), beforeOpen);
    EXPECT_EQ(window->view()->processingPage()->concurrencyStepper()->label()->text(),
              QStringLiteral("Concurrent requests: 10"));
    SettingsView* view = window->view();
    view->tabBar()->setCurrentIndex(static_cast<int>(SettingsViewModel::SettingsTab::info));
    EXPECT_FALSE(view->infoPage()->findChild<QLabel*>(QStringLiteral("logo"))->pixmap().isNull());
    // The disclaimer opens in its reading form and leaves the stored acceptance alone.
    const bool accepted = hasAcceptedDisclaimer();
    QTest::mouseClick(view->infoPage()->disclaimerButton(), Qt::LeftButton);
    auto* disclaimer = window->findChild<DisclaimerView*>();
    ASSERT_NE(disclaimer, nullptr);
    EXPECT_FALSE(disclaimer->isModalForm());
    disclaimer->reject();
    EXPECT_EQ(hasAcceptedDisclaimer(), accepted);
    SettingsView second(settings);
    second.show();
    EXPECT_EQ(second.tabBar()->currentIndex(), static_cast<int>(SettingsViewModel::SettingsTab::info));

    // The Last.fm key field follows its switch; its clear button shows only while it holds text.
    QLineEdit* lastFM = view->dataSourcesPage()->lastFMKeyField();
    settings.setUseLastFM(true);
    EXPECT_FALSE(lastFM->isHidden());
    EXPECT_FALSE(lastFM->actions().first()->isVisible());
    QTest::keyClicks(lastFM, QStringLiteral("x"));
    ASSERT_TRUE(lastFM->actions().first()->isVisible());
    lastFM->actions().first()->trigger();
    EXPECT_EQ(settings.lastFMApiKey(), QString());
    EXPECT_TRUE(settings.useLastFM());

    // The key is masked and saved as typed.
    view->tabBar()->setCurrentIndex(static_cast<int>(SettingsViewModel::SettingsTab::aiProvider));
    AIProviderPage* ai = view->aiProviderPage();
    EXPECT_EQ(ai->keyField()->echoMode(), QLineEdit::Password);
    QTest::keyClicks(ai->keyField(), QStringLiteral("sk-abc"));
    EXPECT_EQ(SettingsStore(SettingsStore::defaultFilePath()).string(QStringLiteral("Velmora.apiKey.claude")),
              QStringLiteral("sk-abc"));

    // OpenAI shows no Claude key. Choose Ollama, point it at the loopback server, fetch and pick a model.
    QTest::keyClick(ai->providerPicker(), Qt::Key_Down);
    EXPECT_EQ(ai->keyField()->text(), QString());
    QTest::keyClick(ai->providerPicker(), Qt::Key_Down);
    ASSERT_EQ(settings.selectedProvider(), AIProviderType::ollama);
    EXPECT_TRUE(ai->keyField()->isHidden());
    EXPECT_EQ(ai->endpointField()->placeholderText(), QStringLiteral("http://localhost:11434"));
    QTest::keyClicks(ai->endpointField(), server.baseUrl());
    ASSERT_TRUE(QTest::qWaitFor([&] { return ai->fetchButton()->isEnabled(); }, 60000));
    QTest::mouseClick(ai->fetchButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ai->modelPicker()->isVisible(); }, 60000));
    EXPECT_EQ(ai->modelPicker()->itemText(0), QStringLiteral("Default (llama3.2)"));
    QTest::keyClick(ai->modelPicker(), Qt::Key_Down);
    EXPECT_EQ(settings.modelName(), QStringLiteral("model-a"));

    // A year that is no integer reverts and saves nothing.
    view->tabBar()->setCurrentIndex(static_cast<int>(SettingsViewModel::SettingsTab::decades));
    SearchReplacePage* page = view->searchReplacePage();
    QTableView* rules = page->ruleTable();
    const QByteArray savedBefore = fileBytes(SettingsStore::defaultFilePath());
    QLineEdit* yearEditor = typeIntoCell(rules, page->ruleModel()->index(0, DecadeRuleTableModel::fromColumn),
                                         QStringLiteral("19x8"));
    ASSERT_NE(yearEditor, nullptr);
    QTest::keyClick(yearEditor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the delegate commits and closes on a queued call
    EXPECT_EQ(rules->indexWidget(page->ruleModel()->index(0, 0)), nullptr);
    EXPECT_EQ(page->ruleModel()->index(0, 0).data().toString(), QStringLiteral("1950"));
    EXPECT_EQ(settings.decadeRules(), defaultDecadeRules());
    EXPECT_EQ(fileBytes(SettingsStore::defaultFilePath()), savedBefore);

    // A bad file: a red failure and the table as it was; then a good one.
    chosen = dir.filePath(QStringLiteral("rules.json"));
    QFile bad(chosen);
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(R"({"version":1,"rules":[{"from":"2030","to":2039,"label":"x"}]})");
    bad.close();
    QTest::mouseClick(page->ruleImportButton(), Qt::LeftButton);
    EXPECT_TRUE(page->ruleResult()->text().startsWith(QStringLiteral("✗ Import failed: ")));
    EXPECT_TRUE(page->ruleResult()->text().contains(QStringLiteral("rules[0].from")));
    EXPECT_EQ(page->ruleResult()->palette().color(QPalette::WindowText),
              SettingsForm::resultColor(false, page->palette()));
    EXPECT_EQ(page->ruleModel()->rowCount(), 8);
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly | QIODevice::Truncate));
    bad.write(R"({"version":1,"rules":[{"from":2030,"to":2039,"label":"2030er"}]})");
    bad.close();
    QTest::mouseClick(page->ruleImportButton(), Qt::LeftButton);
    EXPECT_EQ(page->ruleResult()->text(), QStringLiteral("✓ 1 new rule(s) imported"));
    EXPECT_EQ(page->ruleResult()->palette().color(QPalette::WindowText),
              SettingsForm::resultColor(true, page->palette()));
    EXPECT_EQ(page->ruleModel()->rowCount(), 9);
    // An overlap marks both rows red and is listed below the table.
    settings.setDecadeRules({{QUuid::createUuid(), 1980, 1990, "a"}, {QUuid::createUuid(), 1990, 1999, "b"}});
    EXPECT_EQ(page->ruleModel()->index(1, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    EXPECT_TRUE(page->findings()->text().contains(QStringLiteral("Overlap")));

    // The language changes under an open editor: texts follow, the typing stays.
    QLineEdit* labelEditor = typeIntoCell(
        rules, page->ruleModel()->index(0, DecadeRuleTableModel::labelColumn), QStringLiteral("typed"));
    ASSERT_NE(labelEditor, nullptr);
    QPointer<QLineEdit> guard(labelEditor);
    second.tabBar()->setCurrentIndex(static_cast<int>(SettingsViewModel::SettingsTab::appearance));
    QComboBox* language = second.appearancePage()->languagePicker();
    QTest::keyClick(language, Qt::Key_Up);
    ASSERT_EQ(settings.appLanguage(), AppLanguage::german);
    EXPECT_EQ(view->tabBar()->tabText(0), QStringLiteral("Suchen/Ersetzen"));
    EXPECT_EQ(view->tabBar()->tabText(5), QStringLiteral("Info"));
    EXPECT_EQ(page->ruleModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Von"));
    EXPECT_EQ(page->ruleImportButton()->text(), QStringLiteral("Importieren"));
    ASSERT_FALSE(guard.isNull());
    EXPECT_EQ(guard->text(), QStringLiteral("typed"));
    QTest::keyClick(labelEditor, Qt::Key_Escape);
    QCoreApplication::processEvents();

    // The concurrency stepper stops at 1 and at 10.
    ProcessingPage* processing = view->processingPage();
    Stepper* stepper = processing->concurrencyStepper();
    for (int i = 0; i < 12; ++i) {
        QTest::mouseClick(stepper->downButton(), Qt::LeftButton);
    }
    EXPECT_EQ(settings.maxConcurrentRequests(), 1);
    EXPECT_FALSE(stepper->downButton()->isEnabled());
    for (int i = 0; i < 12; ++i) {
        QTest::mouseClick(stepper->upButton(), Qt::LeftButton);
    }
    EXPECT_EQ(settings.maxConcurrentRequests(), 10);
    EXPECT_FALSE(stepper->upButton()->isEnabled());
    EXPECT_EQ(stepper->label()->text(), QStringLiteral("Gleichzeitige Anfragen: 10"));

    window->close();
    QTest::qWait(10);
    EXPECT_EQ(SettingsWindow::instance(), nullptr);
}

// A save that would make the file too large to read back is shown on the screen until one succeeds; the file stays.
TEST(SettingsWindowTest, ASaveThatCouldNotBeReadBackIsShown) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    AppSettings settings(std::make_unique<SettingsStore>(path, 1024 * 1024));
    settings.setAppLanguage(AppLanguage::english);
    SettingsView view(settings);
    view.show();
    EXPECT_TRUE(view.saveFailureLabel()->isHidden());
    const QByteArray saved = fileBytes(path);
    QList<GenreMapping> many = settings.genreMappings();
    for (int i = 0; i < 20000; ++i) {
        many.append({QUuid::createUuid(), QString::number(i), QStringLiteral("x")});
    }
    settings.setGenreMappings(many);
    EXPECT_FALSE(view.saveFailureLabel()->isHidden());
    EXPECT_EQ(view.saveFailureLabel()->text(), QStringLiteral("✗ Settings not saved: the file would be larger than 1 MiB"));
    EXPECT_EQ(fileBytes(path), saved);
    view.viewModel().restoreDefaultMappings();
    EXPECT_TRUE(view.saveFailureLabel()->isHidden());
}

} // namespace
