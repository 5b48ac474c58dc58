#pragma once

#include "services/LocalAIService.h"

// Asks an OpenAI-compatible server at the endpoint of the settings (by default http://localhost:8080). The
// stored API key belongs to the cloud providers and is never sent to it.
class CustomAIService : public LocalAIService {
public:
    explicit CustomAIService(SettingsSource settings, HttpClient http = HttpClient());
};
