#include "tagio/flac/FLACHandler.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "model/DecadeRule.h"
#include "model/TextUtil.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/flac/FLACBlocks.h"
#include "tagio/FilePieces.h"

#include <algorithm>
#include <exception>

namespace {

const QByteArray flacMarker = QByteArrayLiteral("fLaC");
const QString vendorText = QStringLiteral("Velmora");

QString missingMagicText() {
    return QStringLiteral("Not a valid FLAC file (missing magic bytes)");
}

QString beyondBoundsText() {
    return QStringLiteral("FLAC metadata block extends beyond file bounds");
}

QString tooManyBlocksText() {
    return QStringLiteral("FLAC metadata holds too many blocks");
}

FLACHandler::VorbisComment makeComment(const QString& key, const QString& value) {
    return FLACHandler::VorbisComment{key, value, key + QLatin1Char('=') + value};
}

// Seconds of audio described by a STREAMINFO body: total samples / sample
// rate, 0 when either is 0 or the body is too short.
double streamInfoDuration(const QByteArray& body) {
    if (body.size() < 18) {
        return 0.0;
    }
    // Bytes 10..17: sample rate (20 bits), channels - 1 (3), bits per sample - 1 (5), total samples (36).
    const uint32_t sampleRate = (uint32_t(Bytes::u8(body, 10)) << 12) | (uint32_t(Bytes::u8(body, 11)) << 4) |
                                (uint32_t(Bytes::u8(body, 12)) >> 4);
    const uint64_t totalSamples =
        (uint64_t(Bytes::u8(body, 13) & 0x0F) << 32) | uint64_t(Bytes::u32BE(body, 14));
    if (sampleRate == 0 || totalSamples == 0) {
        return 0.0;
    }
    return double(totalSamples) / double(sampleRate);
}

struct FileMetadata {
    FLACHandler::CommentIndex comments;
    double duration = 0.0;
};

// Walks the metadata block headers from offset 4 up to the block with the
// last flag (or the end of the file) and hands each block, without its body,
// to `visit`. A block reaching past the end throws tagReadFailed, as does a
// failed read.
template <typename Visit> void walkBlocks(const SourceBytes& file, const QString& path, Visit&& visit) {
    const qint64 size = file.size();
    qint64 pos = 4;
    while (Bytes::fits(size, pos, 4)) {
        const std::optional<QByteArray> header = file.read(pos, 4);
        if (!header) {
            throw AppError::tagReadFailed(path, QStringLiteral("The file could not be read"));
        }
        const flac::BlockHeader head = flac::blockHeader(*header);
        const qint64 length = head.length;
        if (!Bytes::fits(size, pos + 4, length)) {
            throw AppError::tagReadFailed(path, beyondBoundsText());
        }
        FLACHandler::MetadataBlock block;
        block.isLast = head.isLast;
        block.blockType = head.type;
        block.length = length;
        block.headerOffset = pos;
        pos += 4 + length;
        const bool last = block.isLast;
        visit(block);
        if (last) {
            return;
        }
    }
}

QByteArray readBody(const SourceBytes& file, const FLACHandler::MetadataBlock& block, const QString& path) {
    std::optional<QByteArray> body = file.read(block.headerOffset + 4, block.length);
    if (!body) {
        throw AppError::tagReadFailed(path, QStringLiteral("The file could not be read"));
    }
    return *std::move(body);
}

// The read path: the marker, then the block headers up to the one with the
// last flag by positioned reads, as far as the write walks (maxBlocks). Only
// the STREAMINFO and the first comment body are read; every other body is
// stepped over unread. A walk that does not end at a last flag inside the
// file and the bound (a cut file, no FLAC stream after the marker, a run of
// empty headers) throws tagReadFailed: the write refuses such a file, so the
// scan does, and a genre the scan could not see is never written over. A
// STREAMINFO out of place is read where it is; the write moves it to the front.
FileMetadata readFileMetadata(const QString& path) {
    const std::optional<ByteSource> source = ByteSource::open(path);
    if (!source) {
        throw AppError::tagReadFailed(path, QStringLiteral("Cannot open file for reading"));
    }
    const SourceBytes file(*source);
    FLACHandler::validateMagic(file, path);

    FileMetadata result;
    bool haveStreamInfo = false;
    bool haveComments = false;
    bool finished = false;
    qsizetype count = 0;
    walkBlocks(file, path, [&](FLACHandler::MetadataBlock& block) {
        if (++count > FLACHandler::maxBlocks) {
            throw AppError::tagReadFailed(path, tooManyBlocksText());
        }
        if (block.blockType == FLACHandler::streamInfo && !haveStreamInfo) {
            haveStreamInfo = true;
            // Only the fixed 34-byte part is of interest, whatever the header claims.
            block.length = std::min<qint64>(block.length, 34);
            result.duration = streamInfoDuration(readBody(file, block, path));
        } else if (block.blockType == FLACHandler::vorbisComment && !haveComments) {
            haveComments = true;
            result.comments = FLACHandler::indexVorbisComment(readBody(file, block, path));
        }
        finished = block.isLast;
    });
    if (!finished) {
        throw AppError::tagReadFailed(path, beyondBoundsText());
    }
    return result;
}

[[noreturn]] void refuseWrite(const QString& path, const QString& text) {
    Console::line(QStringLiteral("[TagIO] FLAC write refused: ") + text);
    throw AppError::tagWriteFailed(path, text);
}

} // namespace

QList<FLACHandler::VorbisComment> FLACHandler::readVorbisComments(const QString& path) {
    return readCommentIndex(path).comments();
}

FLACHandler::CommentIndex FLACHandler::readCommentIndex(const QString& path) {
    return readFileMetadata(path).comments;
}

TagData FLACHandler::readTags(const QString& path) {
    const FileMetadata metadata = readFileMetadata(path);
    const CommentIndex& index = metadata.comments;
    TagData tags;
    tags.duration = metadata.duration;
    tags.title = index.lastValue(QLatin1String("TITLE")).value_or(QString());
    tags.artist = index.lastValue(QLatin1String("ARTIST")).value_or(QString());
    tags.album = index.lastValue(QLatin1String("ALBUM")).value_or(QString());
    tags.genre = index.lastValue(QLatin1String("GENRE")).value_or(QString());
    tags.year = index.firstYear();
    return tags;
}

std::optional<QString> FLACHandler::readGenre(const QString& path) {
    try {
        return readCommentIndex(path).lastValue(QLatin1String("GENRE"));
    } catch (const AppError&) {
        throw;
    } catch (const std::exception& error) {
        throw AppError::tagReadFailed(path, QString::fromLocal8Bit(error.what()));
    }
}

void FLACHandler::validateMagic(const QByteArray& data, const QString& path) {
    if (!data.startsWith(flacMarker)) {
        throw AppError::tagReadFailed(path, missingMagicText());
    }
}

void FLACHandler::validateMagic(const SourceBytes& file, const QString& path) {
    if (file.read(0, 4) != flacMarker) {
        throw AppError::tagReadFailed(path, missingMagicText());
    }
}

QList<FLACHandler::MetadataBlock> FLACHandler::parseMetadataBlocks(const QByteArray& data,
                                                                   const QString& path) {
    return parseMetadataBlocks(SourceBytes(data), path, true);
}

QList<FLACHandler::MetadataBlock> FLACHandler::parseMetadataBlocks(const SourceBytes& file,
                                                                   const QString& path, bool allBodies) {
    QList<MetadataBlock> blocks;
    walkBlocks(file, path, [&](MetadataBlock& block) {
        if (allBodies || block.blockType == vorbisComment) {
            block.data = readBody(file, block, path);
        }
        blocks.append(std::move(block));
    });
    return blocks;
}

QByteArrayView FLACHandler::CommentIndex::text(qsizetype i) const {
    const qint64 start = entries[size_t(i)];
    return QByteArrayView(body).sliced(start, readUInt32LE(body, start - 4));
}

bool FLACHandler::CommentIndex::keyIs(qsizetype i, QLatin1String upperKey) const {
    const QByteArrayView entry = text(i);
    const QByteArrayView key = entry.first(entry.indexOf('='));
    for (const char c : key) {
        if (uint8_t(c) >= 0x80) {
            return QString::fromUtf8(key).toUpper() == upperKey;
        }
    }
    if (key.size() != upperKey.size()) {
        return false;
    }
    for (qsizetype k = 0; k < key.size(); ++k) {
        const char c = key[k];
        if ((c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c) != upperKey[k]) {
            return false;
        }
    }
    return true;
}

QString FLACHandler::CommentIndex::value(qsizetype i) const {
    const QByteArrayView entry = text(i);
    const QByteArrayView rest = entry.sliced(entry.indexOf('=') + 1);
    // A NUL at the end is a terminator some tools write, no part of the value.
    return TextUtil::withoutTrailingNuls(
        TextUtil::strictUtf8KeepingBom(rest).value_or(QString::fromUtf8(rest)));
}

FLACHandler::VorbisComment FLACHandler::CommentIndex::comment(qsizetype i) const {
    const QByteArrayView entry = text(i);
    const QString raw = TextUtil::strictUtf8KeepingBom(entry).value_or(QString::fromUtf8(entry));
    const qsizetype equals = raw.indexOf(QLatin1Char('='));
    return VorbisComment{raw.left(equals).toUpper(), raw.mid(equals + 1), raw};
}

qsizetype FLACHandler::CommentIndex::lastWithKey(QLatin1String upperKey) const {
    for (qsizetype i = size() - 1; i >= 0; --i) {
        if (keyIs(i, upperKey)) {
            return i;
        }
    }
    return -1;
}

qsizetype FLACHandler::CommentIndex::firstDate() const {
    for (qsizetype i = 0; i < size(); ++i) {
        if (keyIs(i, QLatin1String("DATE")) || keyIs(i, QLatin1String("YEAR"))) {
            return i;
        }
    }
    return -1;
}

std::optional<int> FLACHandler::CommentIndex::firstYear() const {
    for (qsizetype i = 0; i < size(); ++i) {
        if (keyIs(i, QLatin1String("DATE")) || keyIs(i, QLatin1String("YEAR"))) {
            if (const std::optional<int> year = extractYear(value(i))) {
                return year;
            }
        }
    }
    return std::nullopt;
}

std::optional<QString> FLACHandler::CommentIndex::lastValue(QLatin1String upperKey) const {
    const qsizetype at = lastWithKey(upperKey);
    return at < 0 ? std::nullopt : std::optional<QString>(value(at));
}

FLACHandler::CommentIndex FLACHandler::indexVorbisComment(QByteArray body) {
    CommentIndex index;
    index.body = std::move(body);
    const QByteArray& bytes = index.body;
    const qint64 size = bytes.size();
    // Offsets are kept in 32 bits; a block body is at most 2^24 bytes.
    const std::optional<flac::CommentEntries> entries =
        size > qint64(UINT32_MAX) ? std::nullopt : flac::commentEntries(bytes);
    if (!entries) {
        return index;
    }
    index.entries.reserve(size_t(std::min(entries->count, (size - entries->first) / 4)));
    flac::forEachCommentEntry(bytes, *entries, [&](qint64 start, qint64 length) {
        const QByteArrayView entry = QByteArrayView(bytes).sliced(start, length);
        if (entry.contains('=') && entry.isValidUtf8()) {
            index.entries.push_back(uint32_t(start));
        }
    });
    return index;
}

QList<FLACHandler::VorbisComment> FLACHandler::CommentIndex::comments() const {
    QList<VorbisComment> out;
    out.reserve(size());
    for (qsizetype i = 0; i < size(); ++i) {
        out.append(comment(i));
    }
    return out;
}

QList<FLACHandler::VorbisComment> FLACHandler::parseVorbisComment(const QByteArray& body) {
    return indexVorbisComment(body).comments();
}

QByteArray FLACHandler::updateVorbisComment(const QByteArray& body, const QString& genre,
                                            std::optional<TagYear> year, const std::optional<QString>& title,
                                            const std::optional<QString>& artist) {
    const CommentIndex index = indexVorbisComment(body);
    // Each new entry replaces the entry at `at`, or is appended when -1; an
    // empty one removes the entry at `at`.
    struct Change {
        qsizetype at;
        QByteArray text;
    };
    // No genre: the GENRE entry the readers take goes (an undo takes away the one a write added).
    QList<Change> changes{{index.lastWithKey(QLatin1String("GENRE")),
                           genre.isEmpty() ? QByteArray() : "GENRE=" + genre.toUtf8()}};
    if (year) {
        const QByteArray date = year->removesDate ? QByteArray() : "DATE=" + year->text().toUtf8();
        changes.append({index.firstDate(), date});
    }
    if (title) {
        changes.append({index.lastWithKey(QLatin1String("TITLE")), "TITLE=" + title->toUtf8()});
    }
    if (artist) {
        changes.append({index.lastWithKey(QLatin1String("ARTIST")), "ARTIST=" + artist->toUtf8()});
    }

    // The vendor text as it was; one that is not UTF-8 or runs past the body becomes empty.
    QByteArrayView vendor;
    const qint64 size = body.size();
    if (size >= 4) {
        const qint64 vendorLength = readUInt32LE(body, 0);
        if (vendorLength <= size - 4 && QByteArrayView(body).sliced(4, vendorLength).isValidUtf8()) {
            vendor = QByteArrayView(body).sliced(4, vendorLength);
        }
    }
    qsizetype appended = 0; // entries appended less entries removed
    for (const Change& change : changes) {
        if (change.at < 0 && !change.text.isEmpty()) {
            ++appended;
        } else if (change.at >= 0 && change.text.isEmpty()) {
            --appended;
        }
    }

    QByteArray out;
    out.reserve(size + 64 + genre.size() * 3);
    appendUInt32LE(out, uint32_t(vendor.size()));
    out.append(vendor);
    appendUInt32LE(out, uint32_t(index.size() + appended));
    const auto appendEntry = [&out](QByteArrayView text) {
        appendUInt32LE(out, uint32_t(text.size()));
        out.append(text);
    };
    for (qsizetype i = 0; i < index.size(); ++i) {
        const auto change =
            std::find_if(changes.cbegin(), changes.cend(), [i](const Change& c) { return c.at == i; });
        if (change == changes.cend()) {
            appendEntry(index.text(i));
        } else if (!change->text.isEmpty()) {
            appendEntry(change->text);
        }
    }
    for (const Change& change : changes) {
        if (change.at < 0 && !change.text.isEmpty()) {
            appendEntry(change.text);
        }
    }
    return out;
}

QByteArray FLACHandler::buildVorbisComment(const QList<VorbisComment>& existing, const QString& genre,
                                           std::optional<TagYear> year, const std::optional<QString>& title,
                                           const std::optional<QString>& artist) {
    QList<VorbisComment> comments;
    for (const VorbisComment& comment : existing) {
        const bool dropped = comment.key == QLatin1String("GENRE") || comment.key == QLatin1String("DATE") ||
                             comment.key == QLatin1String("YEAR") ||
                             (title && comment.key == QLatin1String("TITLE")) ||
                             (artist && comment.key == QLatin1String("ARTIST"));
        if (!dropped) {
            comments.append(comment);
        }
    }
    if (!genre.isEmpty()) {
        comments.append(makeComment(QStringLiteral("GENRE"), genre));
    }
    if (year && !year->removesDate) {
        comments.append(makeComment(QStringLiteral("DATE"), year->text()));
    }
    if (title) {
        comments.append(makeComment(QStringLiteral("TITLE"), *title));
    }
    if (artist) {
        comments.append(makeComment(QStringLiteral("ARTIST"), *artist));
    }
    return serializeVorbisComment(vendorText, comments);
}

QByteArray FLACHandler::serializeVorbisComment(const QString& vendor, const QList<VorbisComment>& comments) {
    QByteArray out;
    const QByteArray vendorBytes = vendor.toUtf8();
    appendUInt32LE(out, uint32_t(vendorBytes.size()));
    out.append(vendorBytes);
    appendUInt32LE(out, uint32_t(comments.size()));
    for (const VorbisComment& comment : comments) {
        const QByteArray entry = comment.raw.toUtf8();
        appendUInt32LE(out, uint32_t(entry.size()));
        out.append(entry);
    }
    return out;
}

FilePieces FLACHandler::writeGenre(const QString& genre, std::optional<TagYear> year,
                                   std::optional<QString> title, std::optional<QString> artist,
                                   const SourceBytes& file, const QString& path) {
    // The caller checks the marker first; checking again keeps this function
    // from ever putting a marker in front of something that is not FLAC.
    validateMagic(file, path);
    // Only the block headers are read before the checks below, so that a
    // refused file costs no more than its headers whatever its blocks claim.
    QList<MetadataBlock> blocks;
    qsizetype comment = -1;
    walkBlocks(file, path, [&](MetadataBlock& block) {
        // Without a last-block flag the walk has run into (or up to) the
        // audio, and the audio frame sync reads as the invalid block type
        // 127: the end of the metadata is unknown, so nothing may be rewritten.
        if (block.blockType == invalid) {
            refuseWrite(path, QStringLiteral("FLAC metadata block of invalid type 127"));
        }
        // Only one comment block is allowed; the tags of a second one would
        // be lost by a rewrite that keeps one.
        if (block.blockType == vorbisComment && comment >= 0) {
            refuseWrite(path, QStringLiteral("FLAC file has more than one Vorbis comment block"));
        }
        // No real file has this many; a run of empty headers (a hole in a
        // damaged file) would otherwise grow the list without end.
        if (blocks.size() == maxBlocks) {
            refuseWrite(path, tooManyBlocksText());
        }
        if (block.blockType == vorbisComment) {
            comment = blocks.size();
        }
        blocks.append(block);
    });
    if (blocks.isEmpty()) {
        throw AppError::tagWriteFailed(path, QStringLiteral("No metadata blocks found in FLAC file"));
    }
    const MetadataBlock& lastBlock = blocks.last();
    if (!lastBlock.isLast) {
        refuseWrite(path, QStringLiteral("FLAC metadata has no last-block flag"));
    }
    const qint64 audioStart = lastBlock.headerOffset + 4 + lastBlock.length;

    QByteArray commentBody;
    if (comment >= 0) {
        commentBody = updateVorbisComment(readBody(file, blocks[comment], path), genre, year, title, artist);
    } else {
        commentBody = buildVorbisComment({}, genre, year, title, artist);
    }
    if (commentBody.size() > maxBlockLength) {
        refuseWrite(
            path,
            QStringLiteral("Vorbis comment block too large for FLAC (%1 bytes)").arg(commentBody.size()));
    }

    // Kept blocks in file order, STREAMINFO moved to the front (stable).
    QList<const MetadataBlock*> kept;
    for (const MetadataBlock& block : blocks) {
        if (block.blockType != padding && block.blockType != vorbisComment) {
            kept.append(&block);
        }
    }
    std::stable_partition(kept.begin(), kept.end(),
                          [](const MetadataBlock* block) { return block->blockType == streamInfo; });
    const qsizetype commentIndex = (!kept.isEmpty() && kept.first()->blockType == streamInfo) ? 1 : 0;

    FilePieces out;
    out.append(flacMarker);
    const auto appendHeader = [&out](uint8_t type, qint64 length, bool isLast) {
        QByteArray header(1, char((type & 0x7F) | (isLast ? 0x80 : 0x00)));
        Bytes::appendU24BE(header, uint32_t(length));
        out.append(header);
    };
    for (qsizetype i = 0; i <= kept.size(); ++i) {
        if (i == commentIndex) {
            appendHeader(vorbisComment, commentBody.size(), false);
            out.append(commentBody);
        }
        if (i < kept.size()) {
            appendHeader(kept[i]->blockType, kept[i]->length, false);
            out.copy(kept[i]->headerOffset + 4, kept[i]->length);
        }
    }
    appendHeader(padding, writtenPaddingLength, true);
    out.append(QByteArray(writtenPaddingLength, '\0'));
    out.copy(audioStart, file.size() - audioStart);
    return out;
}

uint32_t FLACHandler::readUInt32LE(const QByteArray& data, qint64 offset) {
    return Bytes::u32LE(data, offset);
}

void FLACHandler::appendUInt32LE(QByteArray& data, uint32_t value) {
    Bytes::appendU32LE(data, value);
}
