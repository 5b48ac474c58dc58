#include "model/AIProviderType.h"

#include "model/AppLanguage.h"

QString rawValue(AIProviderType provider) {
    switch (provider) {
    case AIProviderType::claude:
        return QStringLiteral("claude");
    case AIProviderType::openai:
        return QStringLiteral("openai");
    case AIProviderType::ollama:
        return QStringLiteral("ollama");
    case AIProviderType::lmstudio:
        return QStringLiteral("lmstudio");
    case AIProviderType::custom:
        return QStringLiteral("custom");
    }
    return {};
}

const QList<AIProviderType>& allAIProviderTypes() {
    static const QList<AIProviderType> all{AIProviderType::claude, AIProviderType::openai,
                                           AIProviderType::ollama, AIProviderType::lmstudio,
                                           AIProviderType::custom};
    return all;
}

bool sendsApiKey(AIProviderType provider) {
    return provider == AIProviderType::claude || provider == AIProviderType::openai ||
           provider == AIProviderType::custom;
}

std::optional<AIProviderType> aiProviderTypeFromRawValue(const QString& raw) {
    for (AIProviderType provider : allAIProviderTypes()) {
        if (rawValue(provider) == raw) {
            return provider;
        }
    }
    return std::nullopt;
}

QString displayName(AIProviderType provider, std::optional<AppLanguage> language) {
    switch (provider) {
    case AIProviderType::claude:
        return QStringLiteral("Claude (Anthropic)");
    case AIProviderType::openai:
        return QStringLiteral("ChatGPT (OpenAI)");
    case AIProviderType::ollama:
        return localizedText(QStringLiteral("Ollama (Lokal)"), QStringLiteral("Ollama (Local)"), language);
    case AIProviderType::lmstudio:
        return localizedText(QStringLiteral("LM Studio (Lokal)"), QStringLiteral("LM Studio (Local)"),
                             language);
    case AIProviderType::custom:
        return localizedText(QStringLiteral("Benutzerdefiniert"), QStringLiteral("Custom"), language);
    }
    return {};
}
