#pragma once

#include "model/AIProviderType.h"
#include "model/SettingsSnapshot.h"
#include "model/SourceFailure.h"
#include "services/CancelToken.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// Where a provider reads its settings. It is called once at the start of each
// operation, so a change of a setting affects the next request, never one in
// flight. The default is AppSettings::snapshot (see AIServiceFactory).
using SettingsSource = std::function<std::shared_ptr<const SettingsSnapshot>()>;

// An AI provider that answers the year and genre questions about a track.
//
// Providers are plain objects without mutable state; every operation blocks
// the calling (worker) thread for one HTTP exchange, and one object may serve
// several operations on different threads at once (the orchestrator asks the
// year and the genre side by side). Cancelling the token ends a request in
// flight at once.
class AIService {
public:
    virtual ~AIService() = default;

    // The provider kind the object was built as.
    virtual AIProviderType providerType() const = 0;

    // The year of the track's first release, or none when the model does not
    // know it. Throws AppError: aiError for a missing key, an unusable address,
    // a status other than 200 or an unreadable answer; networkError for a
    // transport failure; cancelled when the token fired.
    virtual std::optional<int> lookupYear(const QString& title, const QString& artist,
                                          const std::optional<QString>& album, const QString& fileName,
                                          const CancelToken& cancel = CancelToken()) const = 0;

    // Whether the provider can be asked at all (a cloud provider: a usable key;
    // a local server: it answers its model list with status 200). Never throws.
    // Why a server that was asked gave no such answer (no connection, a
    // time-out, another status) is added to `failures` under the name
    // `source`; a provider without a key or a usable address is not set up,
    // which is no failure, and neither is a cancel.
    virtual bool isAvailable(const CancelToken& cancel = CancelToken(), SourceFailures* failures = nullptr,
                             const QString& source = {}) const = 0;

    // The model identifiers the provider offers, sorted by code point; empty
    // on any failure. Never throws.
    virtual QStringList fetchModels(const CancelToken& cancel = CancelToken()) const = 0;

    // The track's primary genre as the model names it, or none. Throws as
    // lookupYear does (local servers: only for an unusable address, a
    // transport failure or cancellation).
    virtual std::optional<QString> lookupGenre(const QString& title, const QString& artist,
                                               const std::optional<QString>& album,
                                               const CancelToken& cancel = CancelToken()) const = 0;
};
