#pragma once

#include "model/AIProviderType.h"
#include "model/AppAppearance.h"
#include "model/AppLanguage.h"
#include "model/DecadeRule.h"
#include "model/GenreMapping.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// An immutable copy of every setting, taken at one moment. Worker threads
// read settings only through a snapshot.
struct SettingsSnapshot {
    AppAppearance appearance = AppAppearance::system;
    AppLanguage appLanguage = AppLanguage::system;
    AIProviderType selectedProvider = AIProviderType::claude;
    // The key entered for each provider that sends one (sendsApiKey); a key
    // is only ever sent to the provider it was entered for.
    QMap<AIProviderType, QString> apiKeys;
    QString modelName;
    QString customEndpoint;
    bool useMusicBrainz = true;
    bool useExistingYearTag = true;
    bool writeDecadeToGenre = true;
    QList<DecadeRule> decadeRules;
    bool useLastFM = false;
    QString lastFMApiKey;
    bool useSpotify = false;
    QString spotifyClientId;
    QString spotifyClientSecret;
    bool useDiscogs = false;
    bool repairBrokenTagStructure = false;
    bool enableGenreLookup = false;
    bool genreOverwriteExisting = false;
    bool applyGenreMappings = true;
    bool autoAddGenreMappings = false;
    QList<GenreMapping> genreMappings;
    int maxConcurrentRequests = 3;
    int requestTimeoutSeconds = 30;
    bool debugLogging = false;

    // All defaults, with the built-in rule and mapping lists.
    static SettingsSnapshot defaults();

    // The key entered for `provider`; empty for a provider without a key of its own.
    QString apiKey(AIProviderType provider) const {
        return sendsApiKey(provider) ? apiKeys.value(provider) : QString();
    }

    // `modelName` when not empty, else the provider's default model.
    QString effectiveModelName() const;
    // `customEndpoint` trimmed (a pasted address often carries a blank or a
    // line break) when that is not empty, else the provider's default address;
    // "http://" is put in front of a text without a scheme ("host:port" has
    // none). A text with another scheme ("file:", "ftp://") is returned as it
    // is, and every caller refuses it as no http or https address.
    QString effectiveEndpoint() const;
    // The labels of the decade rules in rule order, duplicates kept.
    QStringList decadeLabels() const;
    // Number of files in flight: `maxConcurrentRequests` bound to 1..10.
    int boundedConcurrency() const;
    // Time-out of one lookup request in seconds: `requestTimeoutSeconds` bound to 1..600.
    int boundedTimeoutSeconds() const;
};
