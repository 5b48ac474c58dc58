#include "model/AppAppearance.h"

#include "model/AppLanguage.h"

QString rawValue(AppAppearance appearance) {
    switch (appearance) {
    case AppAppearance::system:
        return QStringLiteral("system");
    case AppAppearance::light:
        return QStringLiteral("light");
    case AppAppearance::dark:
        return QStringLiteral("dark");
    }
    return {};
}

const QList<AppAppearance>& allAppAppearances() {
    static const QList<AppAppearance> all{AppAppearance::system, AppAppearance::light, AppAppearance::dark};
    return all;
}

std::optional<AppAppearance> appAppearanceFromRawValue(const QString& raw) {
    for (AppAppearance appearance : allAppAppearances()) {
        if (rawValue(appearance) == raw) {
            return appearance;
        }
    }
    return std::nullopt;
}

QString displayName(AppAppearance appearance, std::optional<AppLanguage> language) {
    switch (appearance) {
    case AppAppearance::system:
        return localizedText(QStringLiteral("Systemstandard"), QStringLiteral("System Default"), language);
    case AppAppearance::light:
        return localizedText(QStringLiteral("Hell"), QStringLiteral("Light"), language);
    case AppAppearance::dark:
        return localizedText(QStringLiteral("Dunkel"), QStringLiteral("Dark"), language);
    }
    return {};
}
