#include "services/LMStudioService.h"

LMStudioService::LMStudioService(SettingsSource settings, HttpClient http)
    : LocalAIService(openAICompatible(AIProviderType::lmstudio,
                                      AIProviderTexts{QStringLiteral("[LMStudioService]"),
                                                      QStringLiteral("Invalid response type from LM Studio"),
                                                      QStringLiteral("LM Studio error "),
                                                      QStringLiteral("Failed to parse LM Studio response")},
                                      QStringLiteral("LM Studio")),
                     std::move(settings), http) {}
