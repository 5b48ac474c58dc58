#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// The audio file formats, by lower-case file extension.
enum class AudioFormat { mp3, flac, m4a, aac, aiff, aif, wav, ogg, opus, wma, unknown };

// The lower-case extension of a format; the empty text for unknown.
QString rawValue(AudioFormat format);

// Exact, case-sensitive match of a raw value; "" gives unknown, any other
// text no value.
std::optional<AudioFormat> audioFormatFromRawValue(const QString& raw);

// The format of a file by its extension (lower-cased), unknown when none matches.
AudioFormat audioFormatForPath(const QString& path);

// Every case in declaration order.
const QList<AudioFormat>& allAudioFormats();

// The ten non-empty raw values.
const QSet<QString>& supportedExtensions();

// The seven formats whose tags are written (the rest are read only).
bool isWritableFormat(AudioFormat format);
