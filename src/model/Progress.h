#pragma once

#include <QMetaType>

// How far a run has come: files done out of files to do.
struct Progress {
    int current = 0;
    int total = 0;
    bool operator==(const Progress&) const = default;
};

Q_DECLARE_METATYPE(Progress)
