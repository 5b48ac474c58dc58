#pragma once

#include "services/LocalAIService.h"

// Asks a local Ollama server: the generate form, the answer in "response"; models from "models"[]."name".
class OllamaService : public LocalAIService {
public:
    explicit OllamaService(SettingsSource settings, HttpClient http = HttpClient());
};
