#pragma once

#include "model/AudioFormat.h"
#include "model/DecadeRule.h"
#include "model/FileIdentity.h"
#include "model/ProcessingStatus.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <optional>

// One audio file: a table row and the unit of work of both modes.
struct MusicFile {
    QUuid id;
    QString url; // absolute path of the audio file
    // The file as the scan saw it (before its tags were read) and, after a
    // write, as the write left it; a write refuses a file that no longer
    // matches. None when unknown (the write then checks nothing beforehand).
    std::optional<FileIdentity> identity;
    QString title;
    QString artist;
    QString album;
    std::optional<int> year; // from the file's own tag
    QString genre;
    double duration = 0.0; // seconds
    AudioFormat format = AudioFormat::unknown;
    std::optional<int> discoveredYear;
    std::optional<QString> discoveredGenre;
    std::optional<int> manualYear;
    ProcessingStatus status;
    bool wasAutoFixed = false;
    int renderVersion = 0;

    // The row's year: manualYear, else discoveredYear, else year (none when
    // none is set). What the tables show, and what a write labels and writes.
    std::optional<int> effectiveYear() const;
    // The decade label of effectiveYear under `rules`.
    std::optional<QString> decadeLabel(const QList<DecadeRule>& rules) const;
    // The folder that holds the file.
    QString directoryPath() const;
    // Whether the genre already carries a configured decade label in a way that
    // needs no further work (a year tag, or other genre text besides the labels).
    bool alreadyHasDecade(const QList<DecadeRule>& rules) const;

    // Rows are equal when id and renderVersion are equal.
    bool operator==(const MusicFile& other) const {
        return id == other.id && renderVersion == other.renderVersion;
    }
};

inline size_t qHash(const MusicFile& file, size_t seed = 0) {
    return qHash(file.id, seed);
}

template <> struct std::hash<MusicFile> {
    size_t operator()(const MusicFile& file) const noexcept { return qHash(file.id, 0); }
};
