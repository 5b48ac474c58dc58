#include "model/SourceFailure.h"

#include "model/AppLanguage.h"

#include <algorithm>

QString SourceFailure::text() const {
    QString reasonText;
    switch (reason) {
    case Reason::unreachable:
        reasonText =
            localizedText(QStringLiteral("keine Verbindung: "), QStringLiteral("could not connect: ")) +
            detail;
        break;
    case Reason::timedOut:
        reasonText = localizedText(QStringLiteral("Zeitüberschreitung"), QStringLiteral("timed out"));
        break;
    case Reason::httpStatus:
        reasonText = QStringLiteral("HTTP ") + detail;
        break;
    case Reason::unreadableAnswer:
        reasonText = localizedText(QStringLiteral("unlesbare Antwort"), QStringLiteral("unreadable answer"));
        break;
    case Reason::failed:
        reasonText = detail;
        break;
    }
    // Text from a server must not start a line of its own in a log.
    QString line = source + QStringLiteral(": ") + reasonText;
    std::replace_if(
        line.begin(), line.end(), [](QChar c) { return c == QLatin1Char('\n') || c == QLatin1Char('\r'); },
        QLatin1Char(' '));
    return line;
}

void SourceFailures::add(SourceFailure failure) {
    std::lock_guard lock(m_mutex);
    const bool known = std::any_of(m_list.begin(), m_list.end(),
                                   [&](const SourceFailure& f) { return f.source == failure.source; });
    if (!known) {
        m_list.append(std::move(failure));
    }
}

QList<SourceFailure> SourceFailures::list() const {
    std::lock_guard lock(m_mutex);
    return m_list;
}

void SourceFailures::note(SourceFailures* failures, SourceFailure failure) {
    if (failures) {
        failures->add(std::move(failure));
    }
}
