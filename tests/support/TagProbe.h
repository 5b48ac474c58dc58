#pragma once

#include "model/AudioFormat.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Independent looks at a written file for round-trip tests: the tags as
// TagLib sees them, the tags as our own handlers see them, the audio bytes
// without any tag, and leftovers of an atomic write.
namespace TagProbe {

// A real fixture of one of the seven writable formats and the name its copy
// gets (an MP4 file named .aac goes through the MP4 branch).
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

// Read through TagLib's format-specific classes; throws std::runtime_error
// when TagLib cannot open the file.
Tags viaTagLib(const QString& path, AudioFormat format);

// The file's audio content: everything that is not tag data (MP3 frames after
// the tag, FLAC frames after the metadata, the mdat payload of an MP4, the
// AIFF/WAV file without its ID3 chunk and container size).
QByteArray audioPayload(const QString& path, AudioFormat format);

// Hidden temporary files of an atomic write left in a folder.
QStringList temporaryFiles(const QString& folder);

} // namespace TagProbe
