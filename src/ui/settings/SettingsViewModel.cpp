#include "ui/settings/SettingsViewModel.h"

#include "model/DecadeRuleExportFormat.h"
#include "model/ExchangeFile.h"
#include "model/GenreMappingExportFormat.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <climits>

namespace {

const struct {
    SettingsViewModel::SettingsTab tab;
    const char* raw;
    TextPair title;
    const char* icon;
} tabRows[] = {
    {SettingsViewModel::SettingsTab::decades,
     "decades",
     {"Suchen/Ersetzen", "Search/Replace"},
     "arrow.left.arrow.right"},
    {SettingsViewModel::SettingsTab::dataSources, "dataSources", {"Datenquellen", "Data Sources"}, "globe"},
    {SettingsViewModel::SettingsTab::aiProvider, "aiProvider", {"KI-Anbieter", "AI Provider"}, "cpu"},
    {SettingsViewModel::SettingsTab::processing,
     "processing",
     {"Verarbeitung", "Processing"},
     "slider.horizontal.3"},
    {SettingsViewModel::SettingsTab::appearance, "appearance", {"Darstellung", "Appearance"}, "paintbrush"},
    {SettingsViewModel::SettingsTab::info, "info", {"Info", "Info"}, "info.circle"},
};

void sortByFrom(QList<DecadeRule>& rules) {
    std::stable_sort(rules.begin(), rules.end(),
                     [](const DecadeRule& a, const DecadeRule& b) { return a.from < b.from; });
}

QString quoted(const QString& label) {
    return QLatin1Char('"') + label + QLatin1Char('"');
}

std::optional<int> parseYear(const QString& typed) {
    bool ok = false;
    const qlonglong value = typed.trimmed().toLongLong(&ok);
    if (!ok || value < INT_MIN || value > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

// Applies `edit` to the element with the id; false when there is none.
template <typename T, typename Edit> bool editById(QList<T>& list, const QUuid& id, Edit edit) {
    for (T& item : list) {
        if (item.id == id) {
            edit(item);
            return true;
        }
    }
    return false;
}

} // namespace

const QList<SettingsViewModel::SettingsTab>& SettingsViewModel::allTabs() {
    static const QList<SettingsTab> tabs = [] {
        QList<SettingsTab> list;
        for (const auto& row : tabRows) {
            list.append(row.tab);
        }
        return list;
    }();
    return tabs;
}

QString SettingsViewModel::rawValue(SettingsTab tab) {
    return QString::fromLatin1(tabRows[static_cast<int>(tab)].raw);
}

SettingsViewModel::SettingsTab SettingsViewModel::tabFromRawValue(const QString& raw) {
    for (const auto& row : tabRows) {
        if (raw == QLatin1String(row.raw)) {
            return row.tab;
        }
    }
    return SettingsTab::decades;
}

QString SettingsViewModel::title(SettingsTab tab, AppLanguage language) {
    return localizedText(tabRows[static_cast<int>(tab)].title, language);
}

QString SettingsViewModel::icon(SettingsTab tab) {
    return QString::fromLatin1(tabRows[static_cast<int>(tab)].icon);
}

SettingsViewModel::SettingsViewModel(AppSettings& settings, AIConnectionTester tester, QObject* parent)
    : QObject(parent), m_settings(settings), m_tester(std::move(tester)),
      m_lastProvider(settings.selectedProvider()), m_lastApiKey(settings.apiKey()),
      m_lastEndpoint(settings.customEndpoint()) {
    connect(&m_settings, &AppSettings::settingsChanged, this, &SettingsViewModel::onSettingsChanged);
}

SettingsViewModel::~SettingsViewModel() {
    m_fetchCancel.cancel();
    m_testCancel.cancel();
    m_work.waitForDone();
}

SettingsViewModel::SettingsTab SettingsViewModel::selectedTab() const {
    return tabFromRawValue(m_settings.store().string(QLatin1String(selectedTabKey)).value_or(QString()));
}

void SettingsViewModel::setSelectedTab(SettingsTab tab) {
    if (m_settings.store().string(QLatin1String(selectedTabKey)) == rawValue(tab)) {
        return;
    }
    m_settings.store().setString(QLatin1String(selectedTabKey), rawValue(tab));
    m_settings.store().commit();
}

// ---------------------------------------------------------------------------
// Decade rules

QList<SettingsViewModel::RuleIssue> SettingsViewModel::ruleIssues(const QList<DecadeRule>& rules,
                                                                  AppLanguage language) {
    QList<DecadeRule> sorted = rules;
    sortByFrom(sorted);
    QList<RuleIssue> issues;
    const auto n = [](int value) {
        return QString::number(value);
    };
    for (qsizetype i = 0; i < sorted.size(); ++i) {
        const DecadeRule& rule = sorted.at(i);
        if (rule.from > rule.to) {
            issues.append(
                {QUuid::createUuid(),
                 localizedText(QStringLiteral("Ungültig: ") + quoted(rule.label) +
                                   QStringLiteral(" – Von (") + n(rule.from) +
                                   QStringLiteral(") ist größer als Bis (") + n(rule.to) + QLatin1Char(')'),
                               QStringLiteral("Invalid: ") + quoted(rule.label) +
                                   QStringLiteral(" – From (") + n(rule.from) +
                                   QStringLiteral(") is greater than To (") + n(rule.to) + QLatin1Char(')'),
                               language),
                 {rule.id}});
        }
        if (i + 1 == sorted.size()) {
            break;
        }
        const DecadeRule& next = sorted.at(i + 1);
        if (rule.to >= next.from) {
            const QString first = quoted(rule.label) + QStringLiteral(" (") + n(rule.from) +
                                  QStringLiteral("–") + n(rule.to) + QLatin1Char(')');
            const QString second = quoted(next.label) + QStringLiteral(" (") + n(next.from) +
                                   QStringLiteral("–") + n(next.to) + QLatin1Char(')');
            issues.append(
                {QUuid::createUuid(),
                 localizedText(QStringLiteral("Überschneidung: ") + first + QStringLiteral(" und ") + second,
                               QStringLiteral("Overlap: ") + first + QStringLiteral(" and ") + second,
                               language),
                 {rule.id, next.id}});
        } else if (rule.to < next.from - 1) {
            // Here rule.to < next.from, so neither bound of the gap can overflow.
            const QString a = n(rule.to + 1);
            const QString b = n(next.from - 1);
            issues.append({QUuid::createUuid(),
                           localizedText(QStringLiteral("Lücke: Jahre ") + a + QStringLiteral(" bis ") + b +
                                             QStringLiteral(" sind keiner Regel zugeordnet"),
                                         QStringLiteral("Gap: years ") + a + QStringLiteral(" to ") + b +
                                             QStringLiteral(" are not covered by any rule"),
                                         language),
                           {}});
        }
    }
    return issues;
}

QList<SettingsViewModel::RuleIssue> SettingsViewModel::ruleIssues() const {
    return ruleIssues(m_settings.decadeRules(), language());
}

QSet<QUuid> SettingsViewModel::affectedRuleIDs() const {
    QSet<QUuid> ids;
    for (const RuleIssue& issue : ruleIssues()) {
        ids.unite(issue.affectedIDs);
    }
    return ids;
}

bool SettingsViewModel::addRule() {
    QList<DecadeRule> rules = m_settings.decadeRules();
    QList<DecadeRule> sorted = rules;
    sortByFrom(sorted);
    const int last = sorted.isEmpty() ? 2029 : sorted.last().to;
    if (last > INT_MAX - 10) {
        return false;
    }
    rules.append({QUuid::createUuid(), last + 1, last + 10, QString()});
    m_settings.setDecadeRules(rules);
    sortByFrom(rules);
    m_settings.setDecadeRules(rules);
    return true;
}

void SettingsViewModel::removeRule(const QUuid& id) {
    QList<DecadeRule> rules = m_settings.decadeRules();
    rules.removeIf([&](const DecadeRule& rule) { return rule.id == id; });
    m_settings.setDecadeRules(rules);
}

void SettingsViewModel::restoreDefaultRules() {
    m_settings.setDecadeRules(defaultDecadeRules());
}

bool SettingsViewModel::setRuleYear(const QUuid& id, const QString& typed, bool isFrom) {
    const std::optional<int> year = parseYear(typed);
    QList<DecadeRule> rules = m_settings.decadeRules();
    if (!year || !editById(rules, id, [&](DecadeRule& rule) { (isFrom ? rule.from : rule.to) = *year; })) {
        return false;
    }
    m_settings.setDecadeRules(rules);
    return true;
}

bool SettingsViewModel::setRuleFrom(const QUuid& id, const QString& typed) {
    return setRuleYear(id, typed, true);
}

bool SettingsViewModel::setRuleTo(const QUuid& id, const QString& typed) {
    return setRuleYear(id, typed, false);
}

void SettingsViewModel::setRuleLabel(const QUuid& id, const QString& label) {
    QList<DecadeRule> rules = m_settings.decadeRules();
    if (editById(rules, id, [&](DecadeRule& rule) { rule.label = label; })) {
        m_settings.setDecadeRules(rules);
    }
}

// ---------------------------------------------------------------------------
// Genre mappings

QUuid SettingsViewModel::addMapping() {
    QList<GenreMapping> mappings = m_settings.genreMappings();
    const QUuid id = QUuid::createUuid();
    mappings.append({id, QString(), QString()});
    m_settings.setGenreMappings(mappings);
    return id;
}

void SettingsViewModel::removeMapping(const QUuid& id) {
    QList<GenreMapping> mappings = m_settings.genreMappings();
    mappings.removeIf([&](const GenreMapping& mapping) { return mapping.id == id; });
    m_settings.setGenreMappings(mappings);
}

void SettingsViewModel::restoreDefaultMappings() {
    m_settings.setGenreMappings(defaultGenreMappings());
}

void SettingsViewModel::setMappingSource(const QUuid& id, const QString& source) {
    QList<GenreMapping> mappings = m_settings.genreMappings();
    if (editById(mappings, id, [&](GenreMapping& mapping) { mapping.source = source; })) {
        m_settings.setGenreMappings(mappings);
    }
}

void SettingsViewModel::setMappingTarget(const QUuid& id, const QString& target) {
    QList<GenreMapping> mappings = m_settings.genreMappings();
    if (editById(mappings, id, [&](GenreMapping& mapping) { mapping.target = target; })) {
        m_settings.setGenreMappings(mappings);
    }
}

void SettingsViewModel::sortMappings(GenreSortField field) {
    if (m_genreSortField == field) {
        m_genreSortAscending = !m_genreSortAscending;
    } else {
        m_genreSortField = field;
        m_genreSortAscending = true;
    }
    QCollator collator(QLocale::system());
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const bool ascending = m_genreSortAscending;
    const auto key = [field](const GenreMapping& m) -> const QString& {
        return field == GenreSortField::source ? m.source : m.target;
    };
    QList<GenreMapping> mappings = m_settings.genreMappings();
    std::stable_sort(mappings.begin(), mappings.end(), [&](const GenreMapping& a, const GenreMapping& b) {
        const int order = collator.compare(key(a), key(b));
        return ascending ? order < 0 : order > 0;
    });
    m_settings.setGenreMappings(mappings);
    Q_EMIT stateChanged();
}

// ---------------------------------------------------------------------------
// Exchange files

QString SettingsViewModel::defaultRulesFileName() const {
    return localizedText(QStringLiteral("Jahrzehnte-Regeln.json"), QStringLiteral("Decade-Rules.json"),
                         language());
}

QString SettingsViewModel::defaultMappingsFileName() const {
    return localizedText(QStringLiteral("Genre-Zuordnungen.json"), QStringLiteral("Genre-Mappings.json"),
                         language());
}

void SettingsViewModel::writeExchangeFile(const QString& path, const QJsonObject& object,
                                          std::optional<QString>& result) {
    // Each export replaces the line of the action before it: no stale failure after a success.
    result.reset();
    if (const auto failure = ExchangeFile::writeObject(path, object)) {
        result = localizedText(QStringLiteral("✗ Export fehlgeschlagen: "),
                               QStringLiteral("✗ Export failed: "), language()) +
                 *failure;
    }
    Q_EMIT stateChanged();
}

template <typename Format>
std::optional<Format> SettingsViewModel::readExchangeFile(const QString& path,
                                                          std::optional<QString>& result) {
    result.reset();
    const auto object = ExchangeFile::readObject(path, language());
    const auto format = std::holds_alternative<QString>(object)
                            ? std::variant<Format, QString>(std::get<QString>(object))
                            : Format::fromJson(std::get<QJsonObject>(object), language());
    if (const QString* description = std::get_if<QString>(&format)) {
        result = localizedText(QStringLiteral("✗ Import fehlgeschlagen: "),
                               QStringLiteral("✗ Import failed: "), language()) +
                 *description;
        Q_EMIT stateChanged();
        return std::nullopt;
    }
    return std::get<Format>(format);
}

void SettingsViewModel::exportDecadeRules(const QString& path) {
    writeExchangeFile(path, DecadeRuleExportFormat::fromRules(m_settings.decadeRules()).toJson(),
                      m_decadeImportResult);
}

void SettingsViewModel::exportGenreMappings(const QString& path) {
    writeExchangeFile(path, GenreMappingExportFormat::fromMappings(m_settings.genreMappings()).toJson(),
                      m_importResult);
}

void SettingsViewModel::importDecadeRules(const QString& path) {
    const auto format = readExchangeFile<DecadeRuleExportFormat>(path, m_decadeImportResult);
    if (!format) {
        return;
    }
    QList<DecadeRule> rules = m_settings.decadeRules();
    QSet<int> existing;
    for (const DecadeRule& rule : rules) {
        existing.insert(rule.from);
    }
    int added = 0;
    for (const DecadeRule& rule : format->toRules()) {
        if (!existing.contains(rule.from)) {
            rules.append(rule);
            ++added;
        }
    }
    m_settings.setDecadeRules(rules);
    sortByFrom(rules);
    m_settings.setDecadeRules(rules);
    m_decadeImportResult = QStringLiteral("✓ ") + QString::number(added) +
                           localizedText(QStringLiteral(" neue Regel(n) importiert"),
                                         QStringLiteral(" new rule(s) imported"), language());
    Q_EMIT stateChanged();
}

void SettingsViewModel::importGenreMappings(const QString& path) {
    const auto format = readExchangeFile<GenreMappingExportFormat>(path, m_importResult);
    if (!format) {
        return;
    }
    QList<GenreMapping> mappings = m_settings.genreMappings();
    QSet<QString> existing;
    for (const GenreMapping& mapping : mappings) {
        existing.insert(mapping.source.toLower());
    }
    int added = 0;
    for (const GenreMapping& mapping : format->toMappings()) {
        if (!existing.contains(mapping.source.toLower())) {
            mappings.append(mapping);
            ++added;
        }
    }
    m_settings.setGenreMappings(mappings);
    m_importResult = QStringLiteral("✓ ") + QString::number(added) +
                     localizedText(QStringLiteral(" neue Zuordnung(en) importiert"),
                                   QStringLiteral(" new mapping(s) imported"), language());
    Q_EMIT stateChanged();
}

// ---------------------------------------------------------------------------
// AI provider

void SettingsViewModel::fetchModels() {
    if (m_isFetchingModels) {
        return;
    }
    m_isFetchingModels = true;
    m_availableModels.clear();
    m_fetchCancel = CancelToken();
    Q_EMIT stateChanged();
    // The answer is dropped when a newer run has started since.
    const quint64 generation = m_work.generation();
    m_work.post([this, generation, snapshot = m_settings.currentSnapshot(), cancel = m_fetchCancel] {
        QStringList models = m_tester.fetchModels(snapshot, cancel);
        m_work.deliverIfCurrent(generation, [this, models = std::move(models)] {
            m_availableModels = models;
            m_isFetchingModels = false;
            Q_EMIT stateChanged();
        });
    });
}

void SettingsViewModel::testConnection() {
    m_isTesting = true;
    m_connectionTestResult.reset();
    m_testCancel = CancelToken();
    Q_EMIT stateChanged();
    const quint64 generation = m_work.generation();
    m_work.post([this, generation, snapshot = m_settings.currentSnapshot(), cancel = m_testCancel] {
        const AIConnectionTester::Result result = m_tester.run(*snapshot, cancel);
        m_work.deliverIfCurrent(generation, [this, result] {
            m_isTesting = false;
            m_connectionTestResult = ConnectionTestResult{result.success, result.message};
            Q_EMIT stateChanged();
        });
    });
}

std::optional<SettingsViewModel::ConnectionTestResult> SettingsViewModel::connectionTestResult() const {
    if (!m_connectionTestResult) {
        return std::nullopt;
    }
    return ConnectionTestResult{
        m_connectionTestResult->success,
        AIConnectionTester::relocalized(m_connectionTestResult->text, *m_settings.currentSnapshot())};
}

void SettingsViewModel::cancelRunning() {
    m_fetchCancel.cancel();
    m_testCancel.cancel();
    m_work.nextGeneration();
    m_isFetchingModels = false;
    m_isTesting = false;
}

void SettingsViewModel::reset() {
    cancelRunning();
    m_settings.setApiKey(QString());
    m_settings.setModelName(QString());
    m_settings.setCustomEndpoint(QString());
    m_availableModels.clear();
    m_connectionTestResult.reset();
    Q_EMIT stateChanged();
}

void SettingsViewModel::setVisible(bool visible) {
    m_visible = visible;
    if (visible) {
        fetchModels();
    }
}

void SettingsViewModel::onSettingsChanged() {
    const bool providerChanged = m_settings.selectedProvider() != m_lastProvider;
    const bool connectionChanged = providerChanged || m_settings.apiKey() != m_lastApiKey ||
                                   m_settings.customEndpoint() != m_lastEndpoint;
    m_lastProvider = m_settings.selectedProvider();
    m_lastApiKey = m_settings.apiKey();
    m_lastEndpoint = m_settings.customEndpoint();
    if (!connectionChanged) {
        return;
    }
    // Whatever runs now asks about a configuration that no longer exists.
    const bool wasBusy = m_isFetchingModels || m_isTesting;
    if (wasBusy) {
        cancelRunning();
    }
    if (providerChanged) {
        m_availableModels.clear();
        m_connectionTestResult.reset();
        if (m_visible) {
            fetchModels();
        }
    }
    if (wasBusy || providerChanged) {
        Q_EMIT stateChanged();
    }
}

std::optional<QString> SettingsViewModel::saveFailureText() const {
    const std::optional<SettingsStore::CommitFailure> failure = m_settings.saveFailure();
    if (!failure) {
        return std::nullopt;
    }
    const QString limit =
        QString::number(m_settings.store().maxBytes() / (1024 * 1024)) + QStringLiteral(" MiB");
    return localizedText(QStringLiteral("✗ Einstellungen nicht gespeichert: "),
                         QStringLiteral("✗ Settings not saved: "), language()) +
           (failure->tooLarge ? localizedText(QStringLiteral("die Datei wäre größer als "),
                                              QStringLiteral("the file would be larger than "), language()) +
                                    limit
                              : failure->description);
}

// ---------------------------------------------------------------------------
// Processing

int SettingsViewModel::stepped(int value, int delta, int min, int max) {
    return static_cast<int>(std::clamp<qint64>(static_cast<qint64>(value) + delta, min, max));
}

void SettingsViewModel::stepConcurrency(int direction) {
    // Steps from what runs use; a step that moves nothing writes nothing.
    const int shown = m_settings.currentSnapshot()->boundedConcurrency();
    const int next = stepped(shown, direction, 1, 10);
    if (next != shown) {
        m_settings.setMaxConcurrentRequests(next);
    }
}

void SettingsViewModel::stepTimeout(int direction) {
    const int next = stepped(m_settings.requestTimeoutSeconds(), 5 * direction, 10, 120);
    if (next != m_settings.requestTimeoutSeconds()) {
        m_settings.setRequestTimeoutSeconds(next);
    }
}
