#pragma once

// Shared by the parts of the media layer: the item helpers, a windowed file
// reader and the readers of the formats we parse ourselves (MP3, AIFF, WAV,
// MP4/M4A, FLAC). Each reader gives the items and the duration as TagLib
// reports them for that file, touching only headers and the bodies of the
// items it reports (never a picture), with every size from the file checked
// against the file and against a fixed cap before anything is allocated.

#include "tagio/MediaAsset.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class ByteSource;
class MP4Handler;

namespace media {

using Item = MediaAsset::Item;

// Multi-value fields are shown as one text.
inline constexpr const char* kValueSeparator = " / ";
// The largest text body a reader loads; larger items are reported without a value.
inline constexpr qint64 kMaxValueBody = qint64(1) << 20;
// The most value bytes one read loads in all; later values are left out.
inline constexpr qint64 kMaxValueTotal = qint64(32) << 20;
// How far a reader searches for the first audio frame or a stream marker.
inline constexpr qint64 kMaxSearch = qint64(4) << 20;
// How many chunks, blocks or atoms a reader walks at most.
inline constexpr int kMaxWalk = 100000;

Item makeItem(const QString& keySpace, const QString& key, std::optional<QString> common,
              std::optional<QString> value, std::optional<qint64> number = std::nullopt);
std::optional<QString> commonKeyForProperty(const QString& name);
std::optional<QString> id3CommonKey(const QString& frameId);
std::optional<QString> mp4CommonKey(const QString& key);
// ID3v1 genre references of a TCON frame ("17") in the "(17)" form, joined.
QString genreFieldText(const QStringList& fields);
// A text as TagLib keeps it: cut at the first NUL.
QString cutAtNul(QString text);
// Milliseconds rounded as TagLib rounds them, in seconds.
double roundedSeconds(double milliseconds);

// Positioned reads served from a 16 KB window, so that header walks cost few
// system calls. Reads never allocate more than they are asked for, and the
// callers never ask for more than their caps.
class Window {
public:
    explicit Window(const ByteSource& source);
    qint64 size() const { return m_size; }
    // Exactly `length` bytes at `offset`, or no value when they are not all in the file.
    std::optional<QByteArray> read(qint64 offset, qint64 length);
    // Up to `length` bytes at `offset`.
    QByteArray readAtMost(qint64 offset, qint64 length);
    // Whether a value body of `length` bytes may still be loaded (at most
    // kMaxValueBody each, kMaxValueTotal in all); counts it when it may.
    bool spend(qint64 length);

private:
    const ByteSource& m_source;
    qint64 m_size = 0;
    QByteArray m_window;
    qint64 m_windowStart = -1;
    qint64 m_spent = 0;
};

struct Parsed {
    QList<Item> items;
    double duration = 0.0;
};

// The readers throw AppError::tagReadFailed where TagLib finds no audio
// stream. No value means: a tag kind we leave to TagLib (an ID3v2.2 tag, an
// APE tag, a FLAC file whose only tag is an ID3 tag).
// What ID3v2Handler's year and genre reads find in the same tag: the text of
// the first non-empty TYER or TDRC frame and the first decodable TCON text.
// `known` is false where the walk cannot tell (a frame over the body cap).
struct DirectFrames {
    std::optional<QString> yearText;
    std::optional<QString> genre;
    bool known = true;
};

std::optional<Parsed> readMpeg(const ByteSource& source, DirectFrames* direct = nullptr);
// With `handler` and `direct`, what that handler's year and genre reads find.
Parsed readMp4(const ByteSource& source, const MP4Handler* handler = nullptr, DirectFrames* direct = nullptr);
std::optional<Parsed> readRiff(const ByteSource& source, bool aiff);
std::optional<Parsed> readFlac(const ByteSource& source);

// The items of the ID3v2 tag in [start, end) of the file, as TagLib lists
// them; no value for a tag version TagLib converts (2.2).
// With `direct`, the walk also finds what the year and genre reads find.
std::optional<QList<Item>> readID3v2Items(const ByteSource& source, Window& in, qint64 start, qint64 end,
                                          DirectFrames* direct = nullptr);

[[noreturn]] void throwNoAudio(const QString& path);

} // namespace media
