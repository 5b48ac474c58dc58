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

QString displayName(AppAppearance appearance, bool english) {
    switch (appearance) {
    case AppAppearance::system:
        return english ? QStringLiteral("System Default") : QStringLiteral("Systemstandard");
    case AppAppearance::light:
        return english ? QStringLiteral("Light") : QStringLiteral("Hell");
    case AppAppearance::dark:
        return english ? QStringLiteral("Dark") : QStringLiteral("Dunkel");
    }
    return {};
}

QString displayName(AppAppearance appearance) {
    return localizedText(displayName(appearance, false), displayName(appearance, true));
}
