#include "model/AppLanguage.h"

#include "model/AppSettings.h"

#include <QLocale>

QString rawValue(AppLanguage language) {
    switch (language) {
    case AppLanguage::system:
        return QStringLiteral("system");
    case AppLanguage::german:
        return QStringLiteral("de");
    case AppLanguage::english:
        return QStringLiteral("en");
    }
    return {};
}

const QList<AppLanguage>& allAppLanguages() {
    static const QList<AppLanguage> all{AppLanguage::system, AppLanguage::german, AppLanguage::english};
    return all;
}

std::optional<AppLanguage> appLanguageFromRawValue(const QString& raw) {
    for (AppLanguage language : allAppLanguages()) {
        if (rawValue(language) == raw) {
            return language;
        }
    }
    return std::nullopt;
}

QString systemLanguageCode() {
    const QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage) {
        return {};
    }
    return QLocale::languageToCode(locale.language());
}

bool usesEnglish(AppLanguage language, const QString& systemCode) {
    switch (language) {
    case AppLanguage::english:
        return true;
    case AppLanguage::german:
        return false;
    case AppLanguage::system:
        return systemCode == QLatin1String("en");
    }
    return false;
}

QString localizedText(const QString& german, const QString& english, std::optional<AppLanguage> language) {
    const AppLanguage chosen = language ? *language : AppSettings::snapshot()->appLanguage;
    return usesEnglish(chosen, systemLanguageCode()) ? english : german;
}

QString localizedText(const TextPair& text, std::optional<AppLanguage> language) {
    return localizedText(text.de, text.en, language);
}
