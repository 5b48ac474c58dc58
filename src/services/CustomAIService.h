#pragma once

#include "services/LocalAIService.h"

// Asks an OpenAI-compatible server at the endpoint of the settings (by default http://localhost:8080). The
// key entered for this provider, when there is one, goes with every request as a bearer key; the keys of
// the cloud providers are never sent to it.
class CustomAIService : public LocalAIService {
public:
    explicit CustomAIService(SettingsSource settings, HttpClient http = HttpClient());
};
