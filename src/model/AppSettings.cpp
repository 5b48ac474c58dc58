#include "model/AppSettings.h"

#include "model/Console.h"
#include "model/DebugLogger.h"
#include "model/TextUtil.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>
#include <atomic>

namespace {

std::atomic<AppSettings*> g_shared{nullptr};

QString fullKey(const char* key) {
    return QString::fromLatin1(AppSettings::prefix) + QLatin1String(key);
}

// "Velmora.apiKey.claude": the key entered for one provider.
QString apiKeyKey(AIProviderType provider) {
    return fullKey("apiKey.") + rawValue(provider);
}

// What tells a rule or a mapping apart when built-ins are merged in.
QString ruleKey(const DecadeRule& rule) {
    return QString::number(rule.from) + QLatin1Char('-') + QString::number(rule.to);
}

QString mappingKey(const GenreMapping& mapping) {
    return mapping.source.toLower();
}

template <typename T, typename Key> QStringList keysOf(const QList<T>& items, Key key) {
    QStringList keys;
    for (const T& item : items) {
        keys.append(key(item));
    }
    return keys;
}

// The stored record of the built-ins a file has been offered. A file without
// one (or with one that cannot be read) has been offered every built-in.
QStringList offeredRecord(const SettingsStore& store, const char* key, const QStringList& builtIns) {
    const std::optional<QByteArray> data = store.data(fullKey(key));
    const QJsonDocument document = data ? QJsonDocument::fromJson(*data) : QJsonDocument();
    if (!document.isArray()) {
        return builtIns;
    }
    QStringList keys;
    for (const QJsonValue& value : document.array()) {
        keys.append(value.toString());
    }
    return keys;
}

// `stored` followed by the built-ins that were never offered and whose key it
// does not hold.
template <typename T, typename Key>
QList<T> withNewBuiltIns(QList<T> stored, const QList<T>& builtIns, const QStringList& offered, Key key) {
    const QStringList present = keysOf(stored, key);
    const QSet<QString> skip =
        QSet<QString>(present.cbegin(), present.cend()) + QSet<QString>(offered.cbegin(), offered.cend());
    for (const T& item : builtIns) {
        if (!skip.contains(key(item))) {
            stored.append(item);
        }
    }
    return stored;
}

QStringList joined(QStringList offered, const QStringList& builtIns) {
    for (const QString& key : builtIns) {
        if (!offered.contains(key)) {
            offered.append(key);
        }
    }
    return offered;
}

// Stores `value` in `field`; false when the field holds it already (nothing to announce).
template <typename T> bool replace(T& field, const T& value) {
    if (field == value) {
        return false;
    }
    field = value;
    return true;
}

} // namespace

AppSettings& AppSettings::shared() {
    static AppSettings* instance = [] {
        auto* settings = new AppSettings(std::make_unique<SettingsStore>());
        g_shared.store(settings);
        return settings;
    }();
    return *instance;
}

std::shared_ptr<const SettingsSnapshot> AppSettings::snapshot() {
    AppSettings* settings = g_shared.load();
    if (settings == nullptr) {
        static const auto defaults = std::make_shared<const SettingsSnapshot>(SettingsSnapshot::defaults());
        return defaults;
    }
    return settings->currentSnapshot();
}

AppSettings::AppSettings(std::unique_ptr<SettingsStore> store, QObject* parent)
    : QObject(parent), m_store(std::move(store)), m_values(SettingsSnapshot::defaults()),
      m_offeredRules(keysOf(defaultDecadeRules(), ruleKey)),
      m_offeredMappings(keysOf(defaultGenreMappings(), mappingKey)) {
    publish();
    load();
}

AppSettings::~AppSettings() {
    AppSettings* self = this;
    g_shared.compare_exchange_strong(self, nullptr);
}

std::shared_ptr<const SettingsSnapshot> AppSettings::currentSnapshot() const {
    std::lock_guard lock(m_snapshotMutex);
    return m_snapshot;
}

void AppSettings::publish() {
    auto next = std::make_shared<const SettingsSnapshot>(m_values);
    std::lock_guard lock(m_snapshotMutex);
    m_snapshot = std::move(next);
}

void AppSettings::changed() {
    publish();
    Q_EMIT settingsChanged();
    save();
}

void AppSettings::setAppearance(AppAppearance value) {
    if (replace(m_values.appearance, value)) {
        changed();
    }
}

void AppSettings::setAppLanguage(AppLanguage value) {
    if (replace(m_values.appLanguage, value)) {
        changed();
        Q_EMIT languageChanged();
    }
}

void AppSettings::setSelectedProvider(AIProviderType value) {
    if (replace(m_values.selectedProvider, value)) {
        changed();
    }
}

void AppSettings::setApiKey(const QString& value) {
    if (sendsApiKey(m_values.selectedProvider) && apiKey() != value) {
        m_values.apiKeys.insert(m_values.selectedProvider, value);
        changed();
    }
}

void AppSettings::setModelName(const QString& value) {
    if (replace(m_values.modelName, value)) {
        changed();
    }
}

void AppSettings::setCustomEndpoint(const QString& value) {
    if (replace(m_values.customEndpoint, value)) {
        changed();
    }
}

void AppSettings::setUseMusicBrainz(bool value) {
    if (replace(m_values.useMusicBrainz, value)) {
        changed();
    }
}

void AppSettings::setUseExistingYearTag(bool value) {
    if (replace(m_values.useExistingYearTag, value)) {
        changed();
    }
}

void AppSettings::setWriteDecadeToGenre(bool value) {
    if (replace(m_values.writeDecadeToGenre, value)) {
        changed();
    }
}

void AppSettings::setDecadeRules(const QList<DecadeRule>& value) {
    if (replace(m_values.decadeRules, value)) {
        changed();
    }
}

void AppSettings::setUseLastFM(bool value) {
    if (replace(m_values.useLastFM, value)) {
        changed();
    }
}

void AppSettings::setLastFMApiKey(const QString& value) {
    if (replace(m_values.lastFMApiKey, value)) {
        changed();
    }
}

void AppSettings::setUseSpotify(bool value) {
    if (replace(m_values.useSpotify, value)) {
        changed();
    }
}

void AppSettings::setSpotifyClientId(const QString& value) {
    if (replace(m_values.spotifyClientId, value)) {
        changed();
    }
}

void AppSettings::setSpotifyClientSecret(const QString& value) {
    if (replace(m_values.spotifyClientSecret, value)) {
        changed();
    }
}

void AppSettings::setUseDiscogs(bool value) {
    if (replace(m_values.useDiscogs, value)) {
        changed();
    }
}

void AppSettings::setRepairBrokenTagStructure(bool value) {
    if (replace(m_values.repairBrokenTagStructure, value)) {
        changed();
    }
}

void AppSettings::setEnableGenreLookup(bool value) {
    if (replace(m_values.enableGenreLookup, value)) {
        changed();
    }
}

void AppSettings::setGenreOverwriteExisting(bool value) {
    if (replace(m_values.genreOverwriteExisting, value)) {
        changed();
    }
}

void AppSettings::setApplyGenreMappings(bool value) {
    if (replace(m_values.applyGenreMappings, value)) {
        changed();
    }
}

void AppSettings::setAutoAddGenreMappings(bool value) {
    if (replace(m_values.autoAddGenreMappings, value)) {
        changed();
    }
}

void AppSettings::setGenreMappings(const QList<GenreMapping>& value) {
    if (replace(m_values.genreMappings, value)) {
        changed();
    }
}

void AppSettings::setMaxConcurrentRequests(int value) {
    if (replace(m_values.maxConcurrentRequests, value)) {
        changed();
    }
}

void AppSettings::setRequestTimeoutSeconds(int value) {
    if (replace(m_values.requestTimeoutSeconds, value)) {
        changed();
    }
}

void AppSettings::setDebugLogging(bool value) {
    if (replace(m_values.debugLogging, value)) {
        changed();
    }
    DebugLogger::shared().setEnabled(value);
}

void AppSettings::load() {
    m_isLoading = true;
    const SettingsStore& s = *m_store;
    if (const auto text = s.string(fullKey("appearance"))) {
        if (const auto value = appAppearanceFromRawValue(*text)) {
            setAppearance(*value);
        }
    }
    if (const auto text = s.string(fullKey("appLanguage"))) {
        if (const auto value = appLanguageFromRawValue(*text)) {
            setAppLanguage(*value);
        }
    }
    if (const auto text = s.string(fullKey("provider"))) {
        if (const auto value = aiProviderTypeFromRawValue(*text)) {
            setSelectedProvider(*value);
        }
    }
    {
        QMap<AIProviderType, QString> keys;
        for (AIProviderType provider : allAIProviderTypes()) {
            if (sendsApiKey(provider)) {
                keys.insert(provider, s.string(apiKeyKey(provider)).value_or(QString()));
            }
        }
        // The single key field of earlier versions served the two cloud providers
        // only: with another provider selected nothing tells whose it is, and it
        // stays stored (never sent) until a start with a cloud provider selected.
        const AIProviderType provider = m_values.selectedProvider;
        const bool cloud = provider == AIProviderType::claude || provider == AIProviderType::openai;
        const QString single = s.string(fullKey("apiKey")).value_or(QString());
        if (cloud && keys.value(provider).isEmpty() && !single.isEmpty()) {
            keys.insert(provider, single);
        }
        m_keepSingleKey = !single.isEmpty() && !cloud;
        if (replace(m_values.apiKeys, keys)) {
            changed();
        }
    }
    setModelName(s.string(fullKey("modelName")).value_or(QString()));
    setCustomEndpoint(s.string(fullKey("endpoint")).value_or(QString()));
    {
        const auto stored = s.object(fullKey("writeDecadeToGenre"));
        setWriteDecadeToGenre(stored && stored->isBool() ? stored->toBool() : true);
    }
    {
        const auto stored = s.object(fullKey("useMusicBrainz"));
        setUseMusicBrainz(stored && stored->isBool() ? stored->toBool() : true);
    }
    {
        const auto stored = s.object(fullKey("useExistingYearTag"));
        setUseExistingYearTag(stored && stored->isBool() ? stored->toBool() : true);
    }
    {
        const QStringList builtIns = keysOf(defaultDecadeRules(), ruleKey);
        const QStringList offered = offeredRecord(s, "offeredDecadeRules", builtIns);
        if (const auto data = s.data(fullKey("decadeRules"))) {
            if (const auto decoded = decodeDecadeRules(*data)) {
                QList<DecadeRule> merged = withNewBuiltIns(*decoded, defaultDecadeRules(), offered, ruleKey);
                std::stable_sort(merged.begin(), merged.end(),
                                 [](const DecadeRule& a, const DecadeRule& b) { return a.from < b.from; });
                setDecadeRules(merged);
            }
        }
        m_offeredRules = joined(offered, builtIns);
    }
    {
        const auto stored = s.object(fullKey("useLastFM"));
        setUseLastFM(stored && stored->isBool() ? stored->toBool() : false);
    }
    setLastFMApiKey(s.string(fullKey("lastFMApiKey")).value_or(QString()));
    {
        const auto stored = s.object(fullKey("useSpotify"));
        setUseSpotify(stored && stored->isBool() ? stored->toBool() : false);
    }
    setSpotifyClientId(s.string(fullKey("spotifyClientId")).value_or(QString()));
    setSpotifyClientSecret(s.string(fullKey("spotifyClientSecret")).value_or(QString()));
    {
        const auto stored = s.object(fullKey("useDiscogs"));
        setUseDiscogs(stored && stored->isBool() ? stored->toBool() : false);
    }
    {
        const auto stored = s.object(fullKey("repairBrokenTagStructure"));
        setRepairBrokenTagStructure(stored && stored->isBool() ? stored->toBool() : false);
    }
    {
        const auto stored = s.object(fullKey("enableGenreLookup"));
        setEnableGenreLookup(stored && stored->isBool() ? stored->toBool() : false);
    }
    {
        const auto stored = s.object(fullKey("genreOverwriteExisting"));
        setGenreOverwriteExisting(stored && stored->isBool() ? stored->toBool() : false);
    }
    {
        const auto stored = s.object(fullKey("applyGenreMappings"));
        setApplyGenreMappings(stored && stored->isBool() ? stored->toBool() : true);
    }
    {
        const auto stored = s.object(fullKey("autoAddGenreMappings"));
        setAutoAddGenreMappings(stored && stored->isBool() ? stored->toBool() : false);
    }
    {
        const QStringList builtIns = keysOf(defaultGenreMappings(), mappingKey);
        const QStringList offered = offeredRecord(s, "offeredGenreMappings", builtIns);
        if (const auto data = s.data(fullKey("genreMappings"))) {
            if (const auto decoded = decodeGenreMappings(*data)) {
                setGenreMappings(withNewBuiltIns(*decoded, defaultGenreMappings(), offered, mappingKey));
            }
        }
        m_offeredMappings = joined(offered, builtIns);
    }
    {
        const qint64 stored = s.integer(fullKey("maxConcurrent"));
        setMaxConcurrentRequests(stored > 0 ? static_cast<int>(std::min<qint64>(stored, INT_MAX)) : 3);
    }
    {
        const qint64 stored = s.integer(fullKey("timeout"));
        setRequestTimeoutSeconds(stored > 0 ? static_cast<int>(std::min<qint64>(stored, INT_MAX)) : 30);
    }
    {
        const auto stored = s.object(fullKey("debugLogging"));
        setDebugLogging(stored && stored->isBool() ? stored->toBool() : false);
    }
    m_isLoading = false;
}

void AppSettings::save() {
    if (m_isLoading) {
        return;
    }
    SettingsStore& s = *m_store;
    s.setString(fullKey("appearance"), rawValue(m_values.appearance));
    s.setString(fullKey("appLanguage"), rawValue(m_values.appLanguage));
    s.setString(fullKey("provider"), rawValue(m_values.selectedProvider));
    for (AIProviderType provider : allAIProviderTypes()) {
        if (sendsApiKey(provider)) {
            s.setString(apiKeyKey(provider), m_values.apiKey(provider));
        }
    }
    if (!m_keepSingleKey) {
        s.remove(fullKey("apiKey"));
    }
    s.setString(fullKey("modelName"), m_values.modelName);
    s.setString(fullKey("endpoint"), TextUtil::trimWsNl(m_values.customEndpoint));
    s.setBool(fullKey("writeDecadeToGenre"), m_values.writeDecadeToGenre);
    s.setBool(fullKey("useMusicBrainz"), m_values.useMusicBrainz);
    s.setBool(fullKey("useExistingYearTag"), m_values.useExistingYearTag);
    s.setData(fullKey("decadeRules"), encodeDecadeRules(m_values.decadeRules));
    s.setData(fullKey("offeredDecadeRules"),
              QJsonDocument(QJsonArray::fromStringList(m_offeredRules)).toJson(QJsonDocument::Compact));
    s.setBool(fullKey("useLastFM"), m_values.useLastFM);
    s.setString(fullKey("lastFMApiKey"), m_values.lastFMApiKey);
    s.setBool(fullKey("useSpotify"), m_values.useSpotify);
    s.setString(fullKey("spotifyClientId"), m_values.spotifyClientId);
    s.setString(fullKey("spotifyClientSecret"), m_values.spotifyClientSecret);
    s.setBool(fullKey("useDiscogs"), m_values.useDiscogs);
    s.setBool(fullKey("repairBrokenTagStructure"), m_values.repairBrokenTagStructure);
    s.setBool(fullKey("enableGenreLookup"), m_values.enableGenreLookup);
    s.setBool(fullKey("genreOverwriteExisting"), m_values.genreOverwriteExisting);
    s.setBool(fullKey("applyGenreMappings"), m_values.applyGenreMappings);
    s.setBool(fullKey("autoAddGenreMappings"), m_values.autoAddGenreMappings);
    s.setData(fullKey("genreMappings"), encodeGenreMappings(m_values.genreMappings));
    s.setData(fullKey("offeredGenreMappings"),
              QJsonDocument(QJsonArray::fromStringList(m_offeredMappings)).toJson(QJsonDocument::Compact));
    s.setInteger(fullKey("maxConcurrent"), m_values.maxConcurrentRequests);
    s.setInteger(fullKey("timeout"), m_values.requestTimeoutSeconds);
    s.setBool(fullKey("debugLogging"), m_values.debugLogging);
    s.commit();
    const std::optional<SettingsStore::CommitFailure> failure = s.lastCommitFailure();
    if (failure == m_saveFailure) {
        return;
    }
    m_saveFailure = failure;
    if (failure) {
        Console::line(QStringLiteral("[AppSettings] Settings not saved: ") +
                      (failure->tooLarge ? QStringLiteral("the file would exceed its size limit")
                                         : failure->description));
    }
    Q_EMIT saveFailureChanged();
}
