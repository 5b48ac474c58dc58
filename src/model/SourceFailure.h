#pragma once

#include <QList>
#include <QString>

#include <mutex>

// Why one lookup source gave no answer: the source's name, the kind of
// failure and its detail (the transport's message, the status code, the
// provider's error text). It is kept apart from "nothing found" so that the
// screens can tell the user which source failed and why; the outcome of the
// lookup is the same either way. The detail comes from outside and is shown
// as plain text; whoever takes a failure down has already cleaned secrets
// out of it.
//
//     const SourceFailure failure{QStringLiteral("MusicBrainz"), Reason::httpStatus, QStringLiteral("500")};
//     failure.text(); // "MusicBrainz: HTTP 500"
struct SourceFailure {
    enum class Reason {
        unreachable,      // name not resolved, connection refused, TLS not verified
        timedOut,         // no complete answer before the deadline
        httpStatus,       // the detail is the status code
        unreadableAnswer, // not the answer's format (an HTML page, broken JSON)
        failed,           // the detail says what
    };

    QString source;
    Reason reason = Reason::failed;
    QString detail;

    // "<source>: <reason>" in the interface language, on one line.
    QString text() const;

    bool operator==(const SourceFailure&) const = default;
};

// The failures of one lookup, taken down from any thread (the AI's year and
// genre questions run side by side). Only the first failure of each source is
// kept.
class SourceFailures {
public:
    void add(SourceFailure failure);
    QList<SourceFailure> list() const;

    // add() on `failures` when there is one: callers that were given no list
    // want nothing taken down.
    static void note(SourceFailures* failures, SourceFailure failure);

private:
    mutable std::mutex m_mutex;
    QList<SourceFailure> m_list;
};
