#pragma once

#include "model/SettingsSnapshot.h"
#include "services/CancelToken.h"
#include "services/Endpoints.h"
#include "services/HttpClient.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <variant>

// The settings window's "Test Connection" and "Fetch available models"
// without the window: one cheap request to the selected provider and a
// one-line verdict in the interface language, and the provider's model list.
// Blocking; call from a worker thread and hand the result to the window.
//
//     AIConnectionTester tester;
//     const auto result = tester.run(*AppSettings::snapshot());
//     label->setText(result.message);   // "✓ ..." / "✗ ..." is the window's part
class AIConnectionTester {
public:
    struct Result {
        bool success = false; // the provider answered with a status from 200 to 299
        QString message;

        bool operator==(const Result&) const = default;
    };

    explicit AIConnectionTester(Endpoints endpoints = Endpoints(), HttpClient http = HttpClient());

    // The verdict for the provider selected in `settings`. Never throws.
    Result run(const SettingsSnapshot& settings, const CancelToken& cancel = CancelToken()) const;

    // The test request as it would be sent, or the verdict of a check that
    // fails before anything is sent (missing key or endpoint, unusable URL).
    // Local servers and `custom` are addressed exactly as their lookups
    // address them; `custom` gets its own key as a bearer key when it has
    // one, and no provider ever gets another provider's key.
    std::variant<HttpRequest, Result> buildRequest(const SettingsSnapshot& settings) const;

    // The verdict for an answer's status, in the language of `settings`.
    static Result classify(int status, const SettingsSnapshot& settings);

    // A verdict of run() in the language of `settings` (a language switch while it is shown).
    static QString relocalized(const QString& message, const SettingsSnapshot& settings);

    // The selected provider's models (empty when they cannot be listed).
    QStringList fetchModels(std::shared_ptr<const SettingsSnapshot> settings,
                            const CancelToken& cancel = CancelToken()) const;

    static constexpr std::chrono::milliseconds cloudTimeout{10000};
    static constexpr std::chrono::milliseconds localTimeout{8000};
    static constexpr std::chrono::milliseconds customTimeout{10000};

private:
    Endpoints m_endpoints;
    HttpClient m_http;
};
