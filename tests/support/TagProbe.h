#pragma once

#include "model/AudioFormat.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Independent looks at a written file: the tags as TagLib sees them, the
// audio bytes without any tag, and leftovers of an atomic write.
namespace TagProbe {

// One fixture per writable format and its copy's name (an MP4 named .aac takes the MP4 branch).
struct FormatCase {
    const char* fixture;
    const char* copyName;
    AudioFormat format;
};
inline constexpr FormatCase writableFormats[] = {
    {"scan/tagged.mp3", "song.mp3", AudioFormat::mp3},
    {"scan/tagged.flac", "song.flac", AudioFormat::flac},
    {"scan/tagged.m4a", "song.m4a", AudioFormat::m4a},
    {"scan/tagged.m4a", "song.aac", AudioFormat::aac},
    {"scan/tagged.aiff", "song.aiff", AudioFormat::aiff},
    {"scan/tagged.aif", "song.aif", AudioFormat::aif},
    {"scan/tagged.wav", "song.wav", AudioFormat::wav},
};

struct Tags {
    QString genre;
    std::optional<int> year;
    QString title;
    QString artist;
};
// Through TagLib's format classes; throws std::runtime_error when TagLib cannot read the file.
Tags viaTagLib(const QString& path, AudioFormat format);
// The tags as TagLib's format classes read them (GENRE, DATE, TITLE, ...),
// plus "#PICTURES", the data of each FLAC or MP3 picture; empty when TagLib cannot read the file.
QMap<QString, QStringList> properties(const QString& path, AudioFormat format);
// The ID3v2 frames TagLib reads from an MP3, AIFF or WAV file: ID and content
// (text frames by their fields, others by their rendered body).
QList<QPair<QByteArray, QByteArray>> id3Frames(const QString& path);

// Everything that is not tag data (for AIFF/WAV: the file without its ID3 chunk and container size).
QByteArray audioPayload(const QString& path, AudioFormat format);

// Hidden temporary files of an atomic write left in a folder.
QStringList temporaryFiles(const QString& folder);

} // namespace TagProbe
