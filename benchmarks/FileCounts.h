#pragma once

#include <QList>
#include <QString>

// The library sizes a benchmark runs: those named on its command line, else its own.
inline QList<int> fileCounts(int argc, char** argv, const QList<int>& otherwise) {
    QList<int> counts;
    for (int i = 1; i < argc; ++i) {
        counts.append(QString::fromLocal8Bit(argv[i]).toInt());
    }
    return counts.isEmpty() ? otherwise : counts;
}
