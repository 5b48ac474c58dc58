#pragma once

#include "model/SourceFailure.h"

#include <QList>
#include <QString>

// Where a file stands in the work. Four cases carry a payload: yearFound
// (the year), alreadyHasDecade (the label found), error (the message) and
// yearNotFound (the sources that failed, if any).
class ProcessingStatus {
public:
    enum class Kind { yearFound, alreadyHasDecade, error, pending, lookingUp, yearNotFound, updated };

    ProcessingStatus() = default;
    static ProcessingStatus yearFound(int year) { return ProcessingStatus(Kind::yearFound, year, {}); }
    static ProcessingStatus alreadyHasDecade(const QString& label) {
        return ProcessingStatus(Kind::alreadyHasDecade, 0, label);
    }
    static ProcessingStatus error(const QString& message) {
        return ProcessingStatus(Kind::error, 0, message);
    }
    static ProcessingStatus pending() { return ProcessingStatus(Kind::pending, 0, {}); }
    static ProcessingStatus lookingUp() { return ProcessingStatus(Kind::lookingUp, 0, {}); }
    static ProcessingStatus yearNotFound(QList<SourceFailure> failures = {}) {
        ProcessingStatus status(Kind::yearNotFound, 0, {});
        status.m_failures = std::move(failures);
        return status;
    }
    static ProcessingStatus updated() { return ProcessingStatus(Kind::updated, 0, {}); }

    Kind kind() const { return m_kind; }
    // The year of yearFound (0 otherwise).
    int year() const { return m_year; }
    // The label of alreadyHasDecade or the message of error (empty otherwise).
    const QString& text() const { return m_text; }
    // The sources that failed in the lookup of yearNotFound (empty otherwise).
    const QList<SourceFailure>& failures() const { return m_failures; }

    bool operator==(const ProcessingStatus& other) const {
        return m_kind == other.m_kind && m_year == other.m_year && m_text == other.m_text &&
               m_failures == other.m_failures;
    }

private:
    ProcessingStatus(Kind kind, int year, QString text)
        : m_kind(kind), m_year(year), m_text(std::move(text)) {}
    Kind m_kind = Kind::pending;
    int m_year = 0;
    QString m_text;
    QList<SourceFailure> m_failures;
};
