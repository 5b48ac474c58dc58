#pragma once

#include "services/AIService.h"
#include "services/Endpoints.h"
#include "services/HttpClient.h"

#include <memory>

// The settings of the process as workers read them (AppSettings::snapshot).
SettingsSource sharedSettingsSource();
// A source that always gives the same snapshot.
SettingsSource fixedSettingsSource(std::shared_ptr<const SettingsSnapshot> snapshot);

// A new provider object for `provider`. Cannot fail: an unusable provider (no
// key, no server) is still returned and says so through isAvailable. The
// cloud providers take their addresses from `endpoints`; the local ones and
// `custom` read theirs from the settings at each request.
std::shared_ptr<AIService> makeAIService(AIProviderType provider,
                                         SettingsSource settings = sharedSettingsSource(),
                                         const Endpoints& endpoints = Endpoints(),
                                         HttpClient http = HttpClient());

// The same for the provider selected in the settings (read once, now).
std::shared_ptr<AIService> makeAIService(SettingsSource settings = sharedSettingsSource(),
                                         const Endpoints& endpoints = Endpoints(),
                                         HttpClient http = HttpClient());
