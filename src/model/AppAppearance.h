#pragma once

#include "model/AppLanguage.h"

#include <QList>
#include <QString>

#include <optional>

// Light or dark look of the windows.
enum class AppAppearance { system, light, dark };

QString rawValue(AppAppearance appearance);
std::optional<AppAppearance> appAppearanceFromRawValue(const QString& raw);
const QList<AppAppearance>& allAppAppearances();
// "System Default" / "Systemstandard", "Light" / "Hell", "Dark" / "Dunkel".
// In the interface language unless `language` is given.
QString displayName(AppAppearance appearance, std::optional<AppLanguage> language = std::nullopt);
