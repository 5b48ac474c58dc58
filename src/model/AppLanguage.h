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

// One text in German and in English. German comes first, here and in every
// table of texts and every call that takes both.
struct TextPair {
    QString de;
    QString en;
};

// The German or the English text: by `language` when one is given (a screen
// over settings of its own), else by the language of the shared settings.
// Safe from any thread.
QString localizedText(const QString& german, const QString& english,
                      std::optional<AppLanguage> language = std::nullopt);
QString localizedText(const TextPair& text, std::optional<AppLanguage> language = std::nullopt);
