#pragma once

#include "model/AppLanguage.h"

#include <QList>
#include <QString>

#include <optional>

// Which AI provider answers the year and genre questions.
enum class AIProviderType { claude, openai, ollama, lmstudio, custom };

QString rawValue(AIProviderType provider);
std::optional<AIProviderType> aiProviderTypeFromRawValue(const QString& raw);
const QList<AIProviderType>& allAIProviderTypes();
// Whether the provider is sent an API key of its own: the two cloud providers
// and `custom` (an OpenAI-compatible server that may want a bearer key).
bool sendsApiKey(AIProviderType provider);
// The display name, in the interface language unless `language` is given.
QString displayName(AIProviderType provider, std::optional<AppLanguage> language = std::nullopt);
