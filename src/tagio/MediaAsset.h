#pragma once

#include <QList>
#include <QString>

#include <optional>

class ByteSource;

// The metadata of one audio file as a flat list of items, in the form TagLib
// reports them: read by our own parsers for MP3, AIFF, WAV, MP4/M4A, raw AAC
// (ADTS) and FLAC, and by TagLib for every other format it opens (OGG Vorbis,
// Opus, WMA and more). It serves the fields our own tag handlers do not read
// (title, artist, album, duration) and the fall-back year and genre.
//
// Each item belongs to a key space (the tag format it came from) and has a key
// there: ID3v2 frames are keyed by frame ID ("TIT2", "TCON"), iTunes items by
// their atom name ("©nam", "©gen"), Vorbis comments by field name, ASF
// attributes by attribute name. Items that stand for one of the common fields
// also carry a common key. A loaded asset is an immutable value; loading opens
// and closes the file within the call.
class MediaAsset {
public:
    struct Item {
        std::optional<QString> commonKey;
        std::optional<QString> keySpace;
        std::optional<QString> key;
        std::optional<QString> stringValue;
        std::optional<qint64> numberValue;
    };

    // Key spaces.
    static const QString keySpaceID3;         // ID3v2 frames
    static const QString keySpaceiTunes;      // MP4 item list (ilst)
    static const QString keySpaceISOUserData; // MP4 user data outside the item list (not read)
    static const QString keySpaceVorbis;      // Vorbis comments (OGG Vorbis, Opus, ...)
    static const QString keySpaceASF;         // WMA/ASF fields and attributes
    static const QString keySpaceID3v1;       // ID3v1 tag at the end of an MP3 file
    static const QString keySpaceAPE;         // APE tag
    static const QString keySpaceRIFFInfo;    // RIFF INFO chunk of a WAV file
    static const QString keySpaceOther;       // any other tag format TagLib reads

    // Common keys.
    static const QString commonKeyTitle;
    static const QString commonKeyArtist;
    static const QString commonKeyAlbumName;
    static const QString commonKeyCreationDate;
    static const QString commonKeyType; // the genre

    // Opens the file, reads its tags and its duration and closes it again.
    // Throws AppError::tagReadFailed when the file cannot be opened as audio.
    // MP3, AIFF, WAV, MP4/M4A, raw AAC and FLAC files are read by our own
    // parsers (headers and the bodies of the reported items only, never a
    // picture), giving what TagLib gives; every other format goes through
    // TagLib, which reads through the same open file.
    static MediaAsset load(const QString& path);
    // The same on a file that is already open (its path names the format).
    static MediaAsset load(const ByteSource& source);
    // Our own parsers alone: no value for a format they do not read, or a
    // tag kind they leave to TagLib (an ID3v2.2 tag, a FLAC file whose only
    // tag is an ID3 tag). Throws AppError::tagReadFailed for no audio.
    static std::optional<MediaAsset> loadOwn(const ByteSource& source);
    // Whether the path's format is one our own parsers read.
    static bool readsItself(const QString& path);
    // Through TagLib alone, whatever the format: the reference our own
    // parsers are held to.
    static MediaAsset loadWithTagLib(const QString& path);
    static MediaAsset loadWithTagLib(const ByteSource& source);

    // Every item, tag by tag in the order of the file's tags, each tag's items
    // in the order the tag lists them.
    const QList<Item>& metadata() const { return m_metadata; }
    // The items that carry a common key, in the same order.
    const QList<Item>& commonMetadata() const { return m_common; }
    // Seconds; as precise as a fast read of the audio headers allows.
    double duration() const { return m_duration; }

    // An asset made from given items (tests and tools).
    static MediaAsset fromItems(QList<Item> items, double duration);

private:
    MediaAsset() = default;
    QList<Item> m_metadata;
    QList<Item> m_common;
    double m_duration = 0.0;
};
