#pragma once

#include "model/AppSettings.h"

#include <QLabel>
#include <QStackedWidget>
#include <QTabBar>
#include <QWidget>

#include <memory>

class SettingsViewModel;
class SettingsPage;
class SearchReplacePage;
class DataSourcesPage;
class AIProviderPage;
class ProcessingPage;
class AppearancePage;
class InfoPage;

// The settings screen: a row of six tabs over the selected tab's page. It is
// shown in the settings window and in the main window; each has its own
// screen state, and they share the settings and the remembered tab.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsView(AppSettings& settings, QWidget* parent = nullptr);
    ~SettingsView() override;

    SettingsViewModel& viewModel() { return *m_vm; }
    QTabBar* tabBar() const { return m_tabs; }
    SearchReplacePage* searchReplacePage() const { return m_searchReplace; }
    DataSourcesPage* dataSourcesPage() const { return m_dataSources; }
    AIProviderPage* aiProviderPage() const { return m_aiProvider; }
    ProcessingPage* processingPage() const { return m_processing; }
    AppearancePage* appearancePage() const { return m_appearance; }
    InfoPage* infoPage() const { return m_info; }
    // Shown while the settings cannot be saved.
    QLabel* saveFailureLabel() const { return m_saveFailure; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void showRememberedTab();

    std::unique_ptr<SettingsViewModel> m_vm;
    QTabBar* m_tabs;
    QLabel* m_saveFailure;
    QStackedWidget* m_pages;
    QList<SettingsPage*> m_pageList;
    SearchReplacePage* m_searchReplace;
    DataSourcesPage* m_dataSources;
    AIProviderPage* m_aiProvider;
    ProcessingPage* m_processing;
    AppearancePage* m_appearance;
    InfoPage* m_info;
};
