#pragma once

#include <QList>
#include <QString>

#include <optional>

// Which AI provider answers the year and genre questions.
enum class AIProviderType { claude, openai, ollama, lmstudio, custom };

QString rawValue(AIProviderType provider);
std::optional<AIProviderType> aiProviderTypeFromRawValue(const QString& raw);
const QList<AIProviderType>& allAIProviderTypes();
QString displayName(AIProviderType provider, bool english);
// The display name in the current interface language.
QString displayName(AIProviderType provider);
