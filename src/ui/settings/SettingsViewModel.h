#pragma once

#include "model/AppSettings.h"
#include "services/AIConnectionTester.h"
#include "services/BackgroundWork.h"
#include "services/CancelToken.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The state and operations behind one settings screen. Every control edits
// the shared AppSettings directly (each setter saves at once); what lives here
// is the screen's own state: the model list, the connection test, the result
// texts of the exchange files and the sort of the mapping table. Two screens
// over the same settings share only the settings and the remembered tab.
class SettingsViewModel : public QObject {
    Q_OBJECT

public:
    enum class SettingsTab { decades, dataSources, aiProvider, processing, appearance, info };
    enum class GenreSortField { source, target };

    struct ConnectionTestResult {
        bool success = false;
        QString text;
        bool operator==(const ConnectionTestResult&) const = default;
    };

    struct RuleIssue {
        QUuid id;
        QString message;
        QSet<QUuid> affectedIDs;
    };

    static const QList<SettingsTab>& allTabs();
    static QString rawValue(SettingsTab tab);
    // The tab for a stored text; `decades` for anything that names no tab.
    static SettingsTab tabFromRawValue(const QString& raw);
    static QString title(SettingsTab tab, AppLanguage language);
    // The symbol name of the tab ("info.circle", ...).
    static QString icon(SettingsTab tab);

    static constexpr const char* selectedTabKey = "com.velmora.settingsTab";

    explicit SettingsViewModel(AppSettings& settings, AIConnectionTester tester = AIConnectionTester(),
                               QObject* parent = nullptr);
    // Cancels the fetch and test in flight and waits for their workers.
    ~SettingsViewModel() override;

    AppSettings& settings() { return m_settings; }
    // The language of this screen's texts: the language of its settings.
    AppLanguage language() const { return m_settings.appLanguage(); }

    // The remembered tab, shared by every settings screen.
    SettingsTab selectedTab() const;
    void setSelectedTab(SettingsTab tab);

    // Decade rules.
    static QList<RuleIssue> ruleIssues(const QList<DecadeRule>& rules, AppLanguage language);
    QList<RuleIssue> ruleIssues() const;
    QSet<QUuid> affectedRuleIDs() const;
    // Appends the rule after the one with the greatest "from" and sorts the
    // table; false (nothing changes) when its years would leave int.
    bool addRule();
    void removeRule(const QUuid& id);
    void restoreDefaultRules();
    // A year typed into a cell: false (nothing stored) unless it is an integer within int.
    bool setRuleFrom(const QUuid& id, const QString& typed);
    bool setRuleTo(const QUuid& id, const QString& typed);
    void setRuleLabel(const QUuid& id, const QString& label);

    // Genre mappings.
    QUuid addMapping();
    void removeMapping(const QUuid& id);
    void restoreDefaultMappings();
    void setMappingSource(const QUuid& id, const QString& source);
    void setMappingTarget(const QUuid& id, const QString& target);
    // Sorts the stored list by the column (again: the other direction).
    void sortMappings(GenreSortField field);
    std::optional<GenreSortField> genreSortField() const { return m_genreSortField; }
    bool genreSortAscending() const { return m_genreSortAscending; }

    // Exchange files. The export writes nothing but the chosen file; the
    // import merges all entries of a valid file, or changes nothing.
    QString defaultRulesFileName() const;
    QString defaultMappingsFileName() const;
    void exportDecadeRules(const QString& path);
    void importDecadeRules(const QString& path);
    void exportGenreMappings(const QString& path);
    void importGenreMappings(const QString& path);
    std::optional<QString> decadeImportResult() const { return m_decadeImportResult; }
    std::optional<QString> importResult() const { return m_importResult; }

    // AI provider: model list, connection test, reset.
    const QStringList& availableModels() const { return m_availableModels; }
    bool isFetchingModels() const { return m_isFetchingModels; }
    bool isTesting() const { return m_isTesting; }
    // The last test's verdict, in the language in force now.
    std::optional<ConnectionTestResult> connectionTestResult() const;
    void fetchModels();
    void testConnection();
    void reset();
    // The screen came on screen (starts a fetch) or went away.
    void setVisible(bool visible);
    // Blocks until the fetches and tests in flight have ended and handed back what they found;
    // the owner's thread takes it at its next event processing.
    void waitForWorkers() { m_work.waitForDone(); }

    // The line every settings screen shows while the settings cannot be
    // saved (the file keeps what the last successful save wrote); none when
    // the last save succeeded.
    std::optional<QString> saveFailureText() const;

    // A stepper step from `value` by `delta`, kept within min..max.
    static int stepped(int value, int delta, int min, int max);
    void stepConcurrency(int direction);
    void stepTimeout(int direction);

Q_SIGNALS:
    // Some view state of this screen changed (models, flags, results, sort).
    void stateChanged();

private:
    void onSettingsChanged();
    void cancelRunning();
    void writeExchangeFile(const QString& path, const QJsonObject& object, std::optional<QString>& result);
    template <typename Format>
    std::optional<Format> readExchangeFile(const QString& path, std::optional<QString>& result);
    bool setRuleYear(const QUuid& id, const QString& typed, bool isFrom);

    AppSettings& m_settings;
    AIConnectionTester m_tester;
    bool m_visible = false;

    AIProviderType m_lastProvider;
    QString m_lastApiKey;
    QString m_lastEndpoint;

    CancelToken m_fetchCancel;
    CancelToken m_testCancel;

    QStringList m_availableModels;
    bool m_isFetchingModels = false;
    bool m_isTesting = false;
    std::optional<ConnectionTestResult> m_connectionTestResult;
    std::optional<QString> m_decadeImportResult;
    std::optional<QString> m_importResult;
    std::optional<GenreSortField> m_genreSortField;
    bool m_genreSortAscending = true;

    // The model fetch and the connection test; a reset or a change of
    // provider, key or address starts a new generation. Declared last, so
    // its workers end first.
    BackgroundWork m_work{{8}};
};
