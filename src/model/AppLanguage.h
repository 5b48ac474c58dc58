#pragma once

#include <QList>
#include <QString>

#include <optional>

// The language of every user-visible text. Raw values "system", "de", "en".
enum class AppLanguage { system, german, english };

QString rawValue(AppLanguage language);
std::optional<AppLanguage> appLanguageFromRawValue(const QString& raw);
const QList<AppLanguage>& allAppLanguages();

// The language code of the system's current locale ("en", "de", ...), empty when there is none.
QString systemLanguageCode();

// English for `english`; German for `german`; for `system` English only when
// the system language code is exactly "en".
bool usesEnglish(AppLanguage language, const QString& systemCode);

// Picks the German or English member of a text pair by the current setting.
QString localizedText(const QString& german, const QString& english);
