#pragma once

#include "model/SettingsSnapshot.h"
#include "model/SettingsStore.h"

#include <QObject>

#include <memory>
#include <mutex>

// The one settings object of the process. It lives on the main thread: every
// write happens there and, when it changes a value, is announced through
// `settingsChanged` and saved at once; a setter given the value in force does
// nothing. Other threads read settings only through `snapshot()`, an immutable
// copy that is swapped on every change.
class AppSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(AppAppearance appearance READ appearance WRITE setAppearance NOTIFY settingsChanged)
    Q_PROPERTY(AppLanguage appLanguage READ appLanguage WRITE setAppLanguage NOTIFY languageChanged)
    Q_PROPERTY(AIProviderType selectedProvider READ selectedProvider WRITE setSelectedProvider NOTIFY
                   settingsChanged)
    Q_PROPERTY(QString apiKey READ apiKey WRITE setApiKey NOTIFY settingsChanged)
    Q_PROPERTY(QString modelName READ modelName WRITE setModelName NOTIFY settingsChanged)
    Q_PROPERTY(QString customEndpoint READ customEndpoint WRITE setCustomEndpoint NOTIFY settingsChanged)
    Q_PROPERTY(bool useMusicBrainz READ useMusicBrainz WRITE setUseMusicBrainz NOTIFY settingsChanged)
    Q_PROPERTY(
        bool useExistingYearTag READ useExistingYearTag WRITE setUseExistingYearTag NOTIFY settingsChanged)
    Q_PROPERTY(
        bool writeDecadeToGenre READ writeDecadeToGenre WRITE setWriteDecadeToGenre NOTIFY settingsChanged)
    Q_PROPERTY(QList<DecadeRule> decadeRules READ decadeRules WRITE setDecadeRules NOTIFY settingsChanged)
    Q_PROPERTY(bool useLastFM READ useLastFM WRITE setUseLastFM NOTIFY settingsChanged)
    Q_PROPERTY(QString lastFMApiKey READ lastFMApiKey WRITE setLastFMApiKey NOTIFY settingsChanged)
    Q_PROPERTY(bool useSpotify READ useSpotify WRITE setUseSpotify NOTIFY settingsChanged)
    Q_PROPERTY(QString spotifyClientId READ spotifyClientId WRITE setSpotifyClientId NOTIFY settingsChanged)
    Q_PROPERTY(QString spotifyClientSecret READ spotifyClientSecret WRITE setSpotifyClientSecret NOTIFY
                   settingsChanged)
    Q_PROPERTY(bool useDiscogs READ useDiscogs WRITE setUseDiscogs NOTIFY settingsChanged)
    Q_PROPERTY(bool repairBrokenTagStructure READ repairBrokenTagStructure WRITE setRepairBrokenTagStructure
                   NOTIFY settingsChanged)
    Q_PROPERTY(
        bool enableGenreLookup READ enableGenreLookup WRITE setEnableGenreLookup NOTIFY settingsChanged)
    Q_PROPERTY(bool genreOverwriteExisting READ genreOverwriteExisting WRITE setGenreOverwriteExisting NOTIFY
                   settingsChanged)
    Q_PROPERTY(
        bool applyGenreMappings READ applyGenreMappings WRITE setApplyGenreMappings NOTIFY settingsChanged)
    Q_PROPERTY(bool autoAddGenreMappings READ autoAddGenreMappings WRITE setAutoAddGenreMappings NOTIFY
                   settingsChanged)
    Q_PROPERTY(
        QList<GenreMapping> genreMappings READ genreMappings WRITE setGenreMappings NOTIFY settingsChanged)
    Q_PROPERTY(int maxConcurrentRequests READ maxConcurrentRequests WRITE setMaxConcurrentRequests NOTIFY
                   settingsChanged)
    Q_PROPERTY(int requestTimeoutSeconds READ requestTimeoutSeconds WRITE setRequestTimeoutSeconds NOTIFY
                   settingsChanged)
    Q_PROPERTY(bool debugLogging READ debugLogging WRITE setDebugLogging NOTIFY settingsChanged)

public:
    // The shared instance, created on first use (create it on the main thread).
    static AppSettings& shared();
    // The current snapshot of the shared instance; all defaults before it exists.
    static std::shared_ptr<const SettingsSnapshot> snapshot();

    // An instance over its own store (tests); it does not become the shared one.
    explicit AppSettings(std::unique_ptr<SettingsStore> store, QObject* parent = nullptr);
    ~AppSettings() override;

    static constexpr const char* prefix = "Velmora.";

    // This instance's current snapshot.
    std::shared_ptr<const SettingsSnapshot> currentSnapshot() const;

    AppAppearance appearance() const { return m_values.appearance; }
    AppLanguage appLanguage() const { return m_values.appLanguage; }
    AIProviderType selectedProvider() const { return m_values.selectedProvider; }
    // The key of the selected provider (the key field shows and edits it).
    QString apiKey() const { return m_values.apiKey(m_values.selectedProvider); }
    QString modelName() const { return m_values.modelName; }
    QString customEndpoint() const { return m_values.customEndpoint; }
    bool useMusicBrainz() const { return m_values.useMusicBrainz; }
    bool useExistingYearTag() const { return m_values.useExistingYearTag; }
    bool writeDecadeToGenre() const { return m_values.writeDecadeToGenre; }
    QList<DecadeRule> decadeRules() const { return m_values.decadeRules; }
    bool useLastFM() const { return m_values.useLastFM; }
    QString lastFMApiKey() const { return m_values.lastFMApiKey; }
    bool useSpotify() const { return m_values.useSpotify; }
    QString spotifyClientId() const { return m_values.spotifyClientId; }
    QString spotifyClientSecret() const { return m_values.spotifyClientSecret; }
    bool useDiscogs() const { return m_values.useDiscogs; }
    bool repairBrokenTagStructure() const { return m_values.repairBrokenTagStructure; }
    bool enableGenreLookup() const { return m_values.enableGenreLookup; }
    bool genreOverwriteExisting() const { return m_values.genreOverwriteExisting; }
    bool applyGenreMappings() const { return m_values.applyGenreMappings; }
    bool autoAddGenreMappings() const { return m_values.autoAddGenreMappings; }
    QList<GenreMapping> genreMappings() const { return m_values.genreMappings; }
    int maxConcurrentRequests() const { return m_values.maxConcurrentRequests; }
    int requestTimeoutSeconds() const { return m_values.requestTimeoutSeconds; }
    bool debugLogging() const { return m_values.debugLogging; }

    void setAppearance(AppAppearance value);
    void setAppLanguage(AppLanguage value);
    void setSelectedProvider(AIProviderType value);
    // Sets the selected provider's key; a provider that is sent no key keeps none.
    void setApiKey(const QString& value);
    void setModelName(const QString& value);
    void setCustomEndpoint(const QString& value);
    void setUseMusicBrainz(bool value);
    void setUseExistingYearTag(bool value);
    void setWriteDecadeToGenre(bool value);
    void setDecadeRules(const QList<DecadeRule>& value);
    void setUseLastFM(bool value);
    void setLastFMApiKey(const QString& value);
    void setUseSpotify(bool value);
    void setSpotifyClientId(const QString& value);
    void setSpotifyClientSecret(const QString& value);
    void setUseDiscogs(bool value);
    void setRepairBrokenTagStructure(bool value);
    void setEnableGenreLookup(bool value);
    void setGenreOverwriteExisting(bool value);
    void setApplyGenreMappings(bool value);
    void setAutoAddGenreMappings(bool value);
    void setGenreMappings(const QList<GenreMapping>& value);
    void setMaxConcurrentRequests(int value);
    void setRequestTimeoutSeconds(int value);
    void setDebugLogging(bool value);

    QString effectiveModelName() const { return m_values.effectiveModelName(); }
    QString effectiveEndpoint() const { return m_values.effectiveEndpoint(); }
    QStringList decadeLabels() const { return m_values.decadeLabels(); }

    // Reads every setting from the store; writes nothing. A built-in rule or
    // mapping is added to a stored list only when this file has never been
    // offered it, so one the user deleted or edited stays as the user left it.
    // A stored list without that record was written when every built-in of
    // this version was merged in at each load: it has been offered them all.
    // A single key stored before keys were kept per provider belongs to the
    // cloud provider selected at this load.
    void load();
    // Writes every setting to the store; does nothing while loading. A save
    // that fails, or would make a file too large to be read back, is kept in
    // `saveFailure()` until a save succeeds.
    void save();
    std::optional<SettingsStore::CommitFailure> saveFailure() const { return m_saveFailure; }

    SettingsStore& store() { return *m_store; }

Q_SIGNALS:
    // Some setting changed (the language too).
    void settingsChanged();
    // The language changed: every screen sets its texts anew. Comes after `settingsChanged`.
    void languageChanged();
    // The outcome of saving changed (see saveFailure).
    void saveFailureChanged();

private:
    void changed();
    void publish();

    std::unique_ptr<SettingsStore> m_store;
    bool m_isLoading = false;
    SettingsSnapshot m_values;
    mutable std::mutex m_snapshotMutex;
    std::shared_ptr<const SettingsSnapshot> m_snapshot;
    // The keys of the built-ins this file has been offered ("1980-1989", a lower-cased source).
    QStringList m_offeredRules;
    QStringList m_offeredMappings;
    // A single stored key that waits for a provider that is sent keys.
    bool m_keepSingleKey = false;
    std::optional<SettingsStore::CommitFailure> m_saveFailure;
};
