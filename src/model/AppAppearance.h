#pragma once

#include <QList>
#include <QString>

#include <optional>

// Light or dark look of the windows.
enum class AppAppearance { system, light, dark };

QString rawValue(AppAppearance appearance);
std::optional<AppAppearance> appAppearanceFromRawValue(const QString& raw);
const QList<AppAppearance>& allAppAppearances();
// "System Default" / "Systemstandard", "Light" / "Hell", "Dark" / "Dunkel".
QString displayName(AppAppearance appearance, bool english);
QString displayName(AppAppearance appearance);
