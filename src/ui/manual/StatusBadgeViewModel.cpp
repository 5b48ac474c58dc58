#include "ui/manual/StatusBadgeViewModel.h"

#include "model/AppLanguage.h"

using Kind = ProcessingStatus::Kind;

QString colorName(const ProcessingStatus& status) {
    switch (status.kind()) {
    case Kind::lookingUp:
        return QStringLiteral("blue");
    case Kind::yearFound:
    case Kind::updated:
        return QStringLiteral("green");
    case Kind::yearNotFound:
        return QStringLiteral("orange");
    case Kind::error:
        return QStringLiteral("red");
    case Kind::pending:
    case Kind::alreadyHasDecade:
        break;
    }
    return QStringLiteral("secondary");
}

QString statusIcon(const ProcessingStatus& status) {
    switch (status.kind()) {
    case Kind::pending:
        return QStringLiteral("clock");
    case Kind::lookingUp:
        return QStringLiteral("magnifyingglass");
    case Kind::yearFound:
        return QStringLiteral("checkmark.circle");
    case Kind::yearNotFound:
        return QStringLiteral("questionmark.circle");
    case Kind::alreadyHasDecade:
        return QStringLiteral("arrow.uturn.left.circle");
    case Kind::updated:
        return QStringLiteral("checkmark.circle.fill");
    case Kind::error:
        return QStringLiteral("exclamationmark.circle.fill");
    }
    return {};
}

QString statusLabel(const ProcessingStatus& status, const std::optional<QString>& discoveredGenre) {
    switch (status.kind()) {
    case Kind::pending:
        return localizedText(QStringLiteral("Ausstehend"), QStringLiteral("Pending"));
    case Kind::lookingUp:
        return localizedText(QStringLiteral("Suche\u2026"), QStringLiteral("Searching\u2026"));
    case Kind::yearFound: {
        const QString year = QString::number(status.year());
        return discoveredGenre ? year + QStringLiteral(" \u00B7 ") + *discoveredGenre : year;
    }
    case Kind::yearNotFound:
        return localizedText(QStringLiteral("Nicht gefunden"), QStringLiteral("Not found"));
    case Kind::alreadyHasDecade:
        return localizedText(QStringLiteral("Übersprungen ("), QStringLiteral("Skipped (")) + status.text() +
               QLatin1Char(')');
    case Kind::updated:
        return localizedText(QStringLiteral("Aktualisiert"), QStringLiteral("Updated"));
    case Kind::error:
        return localizedText(QStringLiteral("Fehler"), QStringLiteral("Error"));
    }
    return {};
}

QString statusDetail(const ProcessingStatus& status, const std::optional<QString>& discoveredGenre) {
    const QString quoted = QLatin1Char('"') + status.text() + QStringLiteral("\".");
    switch (status.kind()) {
    case Kind::pending:
        return localizedText(QStringLiteral("Noch nicht verarbeitet."), QStringLiteral("Not yet processed."));
    case Kind::lookingUp:
        return localizedText(QStringLiteral("Jahr wird ermittelt\u2026"),
                             QStringLiteral("Looking up year\u2026"));
    case Kind::yearFound: {
        const QString year = QString::number(status.year());
        if (discoveredGenre) {
            return localizedText(QStringLiteral("Jahr ") + year + QStringLiteral(" gefunden \u00B7 Genre: "),
                                 QStringLiteral("Year ") + year + QStringLiteral(" found \u00B7 Genre: ")) +
                   *discoveredGenre;
        }
        return localizedText(QStringLiteral("Jahr ") + year + QStringLiteral(" gefunden."),
                             QStringLiteral("Year ") + year + QStringLiteral(" found."));
    }
    case Kind::yearNotFound: {
        QString text = localizedText(
            QStringLiteral("Es konnte kein Jahr über MusicBrainz, KI oder vorhandene Tags ermittelt werden."),
            QStringLiteral("No year could be found via MusicBrainz, AI, or existing tags."));
        if (!status.failures().isEmpty()) {
            text += localizedText(QStringLiteral("\nFehlgeschlagen:"), QStringLiteral("\nFailed:"));
        }
        for (const SourceFailure& failure : status.failures()) {
            text += QLatin1Char('\n') + failure.text();
        }
        return text;
    }
    case Kind::alreadyHasDecade:
        return localizedText(
                   QStringLiteral("Übersprungen \u2013 Genre-Tag enthält bereits das Jahrzehnt-Label "),
                   QStringLiteral("Skipped \u2013 the genre tag already contains the decade label ")) +
               quoted;
    case Kind::updated:
        return localizedText(QStringLiteral("Tag wurde erfolgreich aktualisiert."),
                             QStringLiteral("Tag was successfully updated."));
    case Kind::error:
        return localizedText(QStringLiteral("Fehler beim Schreiben: "), QStringLiteral("Write error: ")) +
               status.text();
    }
    return {};
}

bool clickOpensPopover(const ProcessingStatus& status) {
    const Kind kind = status.kind();
    return kind == Kind::alreadyHasDecade || kind == Kind::error || kind == Kind::yearNotFound;
}
