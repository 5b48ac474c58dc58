#pragma once

#include "tagio/mp4/MP4Handler.h"
#include "tagio/MediaAsset.h"
#include "tagio/TagData.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class ByteSource;

// Reads one audio file into a TagData record. FLAC files are read by
// FLACHandler alone; every other file through the media metadata layer
// (title, artist, album, duration and the fall-back year and genre), with
// year and genre taken first from our own ID3v2 and MP4 handlers
// (tagHandlerFor). A numeric artist with an "Artist - Title" title is
// repaired on every read.
//
// An immutable value: one reader serves any number of reads at the same time.
class UniversalTagReader {
public:
    // The reader every mode uses: the 192 extended genre names for the genre
    // resolution, an MP4 handler with the 80 ID3v1 names.
    UniversalTagReader();

    // Throws AppError: fileNotFound when nothing exists at the path,
    // accessDenied when the user may not read it, tagReadFailed when the file
    // cannot be read (a FLAC file whose metadata blocks run past its end among them).
    TagData readTags(const QString& path) const;

    // Year and genre straight from our own handler for the file's extension
    // (tagHandlerFor), from one walk of the tag; a handler failure counts as
    // no value (the empty text for the genre).
    std::optional<int> readYearDirect(const QString& path) const;
    struct DirectTags {
        std::optional<int> year;
        QString genre;
    };
    // On a file that is already open (its path names the format).
    DirectTags readDirect(const ByteSource& source) const;

    // The genre from the media items (see resolveGenre in GenreNames.h).
    static QString resolveGenre(const QList<MediaAsset::Item>& commonItems,
                                const QList<MediaAsset::Item>& metadataItems, const QStringList& names);

    // The first item value with at least one character, as it is.
    static std::optional<QString> loadFirstString(const QList<const MediaAsset::Item*>& items);

    // Non-empty after trimming blanks and tabs, and every character numeric.
    static bool isNumericArtist(const QString& text);
    // A numeric artist and a title "Artist - Title": artist and title are
    // taken from the title and wasAutoFixed is set.
    static void repairArtistTitle(TagData& record, const QString& path);

private:
    TagData readFlac(const QString& path, const QString& fileName) const;
    TagData readMedia(const ByteSource& source) const;

    MP4Handler m_mp4Handler;
    QStringList m_id3Genres;
};
