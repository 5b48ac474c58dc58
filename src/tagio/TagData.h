#pragma once

#include <QString>

#include <optional>

// What one tag read returns.
struct TagData {
    QString title;
    QString artist;
    QString album;
    std::optional<int> year;
    QString genre;
    double duration = 0.0; // seconds
    bool wasAutoFixed = false;
};
