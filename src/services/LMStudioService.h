#pragma once

#include "services/LocalAIService.h"

// Asks a local LM Studio server through its OpenAI-compatible chat interface; models from "data"[]."id".
class LMStudioService : public LocalAIService {
public:
    explicit LMStudioService(SettingsSource settings, HttpClient http = HttpClient());
};
