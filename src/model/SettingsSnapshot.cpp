#include "model/SettingsSnapshot.h"

#include "model/TextUtil.h"

#include <QRegularExpression>

#include <algorithm>

SettingsSnapshot SettingsSnapshot::defaults() {
    SettingsSnapshot s;
    s.decadeRules = defaultDecadeRules();
    s.genreMappings = defaultGenreMappings();
    return s;
}

QString SettingsSnapshot::effectiveModelName() const {
    if (!modelName.isEmpty()) {
        return modelName;
    }
    switch (selectedProvider) {
    case AIProviderType::claude:
        return QStringLiteral("claude-haiku-4-5-20251001");
    case AIProviderType::openai:
        return QStringLiteral("gpt-4o-mini");
    case AIProviderType::ollama:
        return QStringLiteral("llama3.2");
    case AIProviderType::lmstudio:
        return QStringLiteral("local-model");
    case AIProviderType::custom:
        return {};
    }
    return {};
}

QString SettingsSnapshot::effectiveEndpoint() const {
    QString endpoint = TextUtil::trimWsNl(customEndpoint);
    if (endpoint.isEmpty()) {
        switch (selectedProvider) {
        case AIProviderType::claude:
        case AIProviderType::openai:
            break;
        case AIProviderType::ollama:
            endpoint = QStringLiteral("http://localhost:11434");
            break;
        case AIProviderType::lmstudio:
            endpoint = QStringLiteral("http://localhost:1234");
            break;
        case AIProviderType::custom:
            endpoint = QStringLiteral("http://localhost:8080");
            break;
        }
    }
    // A scheme is letters, digits, "+", "-" and "." after a first letter, then
    // ":" not followed by a digit (that would be the port of "localhost:8080").
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(?![0-9])"));
    if (endpoint.isEmpty() || scheme.match(endpoint).hasMatch()) {
        return endpoint;
    }
    return QStringLiteral("http://") + endpoint;
}

QStringList SettingsSnapshot::decadeLabels() const {
    QStringList labels;
    labels.reserve(decadeRules.size());
    for (const DecadeRule& rule : decadeRules) {
        labels.append(rule.label);
    }
    return labels;
}

int SettingsSnapshot::boundedConcurrency() const {
    return std::clamp(maxConcurrentRequests, 1, 10);
}

int SettingsSnapshot::boundedTimeoutSeconds() const {
    return std::clamp(requestTimeoutSeconds, 1, 600);
}
