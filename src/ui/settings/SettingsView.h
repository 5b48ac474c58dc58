#pragma once

#include "model/AppSettings.h"

#include <QLabel>
#include <QStackedWidget>
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
class QAbstractButton;
class QButtonGroup;

// The six tabs of the settings screen as a row of toggle buttons that wraps
// into a second row where the window is too narrow for one, so that every tab
// stays readable and one click away.
class SettingsTabStrip : public QWidget {
    Q_OBJECT
public:
    explicit SettingsTabStrip(QWidget* parent = nullptr);

    void addTab(const QIcon& icon);
    int count() const;
    int currentIndex() const;
    void setCurrentIndex(int index);
    QString tabText(int index) const;
    void setTabText(int index, const QString& text);
    QList<QAbstractButton*> buttons() const;

Q_SIGNALS:
    void currentChanged(int index);

private:
    QButtonGroup* m_group;
};

// The settings screen: a strip of six tabs over the selected tab's page. It is
// shown in the settings window and in the main window; each has its own
// screen state, and they share the settings and the remembered tab.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsView(AppSettings& settings, QWidget* parent = nullptr);
    ~SettingsView() override;

    SettingsViewModel& viewModel() { return *m_vm; }
    SettingsTabStrip* tabBar() const { return m_tabs; }
    QList<QAbstractButton*> tabButtons() const;
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
    SettingsTabStrip* m_tabs;
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
