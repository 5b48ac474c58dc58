#pragma once

#include "tagio/TagData.h"
#include "tagio/TagYear.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

class FilePieces;
class SourceBytes;

// Reads and rewrites the Vorbis comments of FLAC files. Reading walks the
// metadata block headers of the file with positioned reads and loads only the
// STREAMINFO and comment bodies; writing reads the block headers and the
// comment body and describes the new file as pieces (new metadata, kept blocks
// and the audio copied unchanged; the caller replaces the file). Stateless:
// every function may run on any thread at the same time.
class FLACHandler {
public:
    // One metadata block of a file image.
    struct MetadataBlock {
        bool isLast = false;   // last-metadata-block flag (bit 7 of the header)
        uint8_t blockType = 0; // low 7 bits of the header's first byte
        QByteArray data;       // the block body (a copy), when it was read
        qint64 headerOffset = 0;
        qint64 length = 0; // of the body
    };

    // One comment entry. `raw` is what is written back; `key` (upper-cased)
    // and `value` serve lookup.
    struct VorbisComment {
        QString key;
        QString value;
        QString raw;

        bool operator==(const VorbisComment&) const = default;
    };

    // A comment body with the positions of its usable entries (UTF-8 text
    // holding a "="): four bytes per entry whatever the entry holds; keys and
    // values are decoded only when asked for.
    struct CommentIndex {
        QByteArray body;
        std::vector<uint32_t> entries; // offset of each entry's text; its length precedes it

        qsizetype size() const { return qsizetype(entries.size()); }
        QByteArrayView text(qsizetype i) const;
        // Whether entry i's key is `upperKey` (an upper-case ASCII key), with
        // the key upper-cased as the readers do.
        bool keyIs(qsizetype i, QLatin1String upperKey) const;
        QString value(qsizetype i) const;
        VorbisComment comment(qsizetype i) const;
        QList<VorbisComment> comments() const;
        // The position of the last entry with the key, or -1.
        qsizetype lastWithKey(QLatin1String upperKey) const;
        std::optional<QString> lastValue(QLatin1String upperKey) const;
        // The position of the first DATE or YEAR entry (the one a year write replaces), or -1.
        qsizetype firstDate() const;
        // The first plausible year among the DATE and YEAR entries (the one the tag set reports).
        std::optional<int> firstYear() const;
    };

    enum BlockType : uint8_t { streamInfo = 0, padding = 1, vorbisComment = 4, invalid = 127 };

    FLACHandler() = delete;

    // The comment entries of the file's first comment block; empty when the
    // block is missing. The reads below walk the block headers as far as the
    // write does and throw tagReadFailed for a file without the marker and one
    // whose walk does not end at a last flag inside the file within maxBlocks
    // blocks (the write refuses such a file).
    static QList<VorbisComment> readVorbisComments(const QString& path);
    // Title, artist, album, genre (last entry wins), the first usable year of
    // DATE/YEAR and the duration from STREAMINFO.
    static TagData readTags(const QString& path);
    // The value of the last GENRE entry: the one the tag set reports and a
    // write replaces.
    static std::optional<QString> readGenre(const QString& path);
    // The entries of the file's first comment block (empty as above).
    static CommentIndex readCommentIndex(const QString& path);

    // Throws tagReadFailed unless the image begins with "fLaC".
    static void validateMagic(const QByteArray& data, const QString& path);
    static void validateMagic(const SourceBytes& file, const QString& path);
    // The metadata blocks from offset 4 up to the block with the last flag (or
    // the end of the image); a block reaching past the end throws tagReadFailed.
    static QList<MetadataBlock> parseMetadataBlocks(const QByteArray& data, const QString& path);
    // The same from a file; the bodies are read only with `allBodies` or for
    // comment blocks. Throws tagReadFailed also when a read fails.
    static QList<MetadataBlock> parseMetadataBlocks(const SourceBytes& file, const QString& path,
                                                    bool allBodies);

    // Never fails: damage gives a shorter list.
    static CommentIndex indexVorbisComment(QByteArray body);
    static QList<VorbisComment> parseVorbisComment(const QByteArray& body);
    // The old body with the last GENRE, TITLE and ARTIST entries (those the
    // tag set reports) and the first DATE/YEAR entry replaced, or appended
    // when missing (an empty genre removes that GENRE entry); the vendor text
    // and every other entry are kept as they were.
    static QByteArray updateVorbisComment(const QByteArray& body, const QString& genre,
                                          std::optional<TagYear> year, const std::optional<QString>& title,
                                          const std::optional<QString>& artist);
    // A new body with vendor "Velmora" from the entries of `existing` that are
    // not replaced, followed by the new entries.
    static QByteArray buildVorbisComment(const QList<VorbisComment>& existing, const QString& genre,
                                         std::optional<TagYear> year, const std::optional<QString>& title,
                                         const std::optional<QString>& artist);
    static QByteArray serializeVorbisComment(const QString& vendor, const QList<VorbisComment>& comments);

    // The new file with the comment block rewritten, placed after
    // STREAMINFO, and one 256-byte padding block at the end. Throws AppError;
    // a refusal (a second comment block, a block of type 127, more than
    // maxBlocks blocks) comes from the block headers, before any body
    // is read.
    static FilePieces writeGenre(const QString& genre, std::optional<TagYear> year,
                                 std::optional<QString> title, std::optional<QString> artist,
                                 const SourceBytes& file, const QString& path);

    // 0 when the four bytes do not all lie inside `data`.
    static uint32_t readUInt32LE(const QByteArray& data, qint64 offset);
    static void appendUInt32LE(QByteArray& data, uint32_t value);

    // Largest body a block header can describe (24-bit length).
    static constexpr qint64 maxBlockLength = (qint64(1) << 24) - 1;
    // Most metadata blocks the read and the write walk; no real file has this many.
    static constexpr qsizetype maxBlocks = 100000;
    static constexpr int writtenPaddingLength = 256;
};
