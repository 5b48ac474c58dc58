// Arbitrary bytes to the FLAC readers and writer: an accepted image has a valid block layout ending
// in the 256-byte padding, the audio and kept blocks unchanged and the new genre.
#include "../support/AppliedPieces.h"
#include "model/AppError.h"
#include "tagio/Bytes.h"
#include "tagio/flac/FLACHandler.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Where the audio starts after blocks that end in a last flag; -1 without one.
qint64 audioStart(const QList<FLACHandler::MetadataBlock>& blocks) {
    return !blocks.isEmpty() && blocks.last().isLast
               ? blocks.last().headerOffset + 4 + blocks.last().data.size()
               : -1;
}

// The blocks other than comments and padding, in order.
QList<QByteArray> keptBlocks(const QList<FLACHandler::MetadataBlock>& blocks) {
    QList<QByteArray> out;
    for (const auto& block : blocks) {
        if (block.blockType != FLACHandler::padding && block.blockType != FLACHandler::vorbisComment) {
            out.append(char(block.blockType) + block.data);
        }
    }
    return out;
}

void fuzzRead(const QByteArray& bytes) {
    static const int fd = memfd_create("fuzz_flac_read", MFD_CLOEXEC);
    check(fd >= 0 && ftruncate(fd, 0) == 0 && pwrite(fd, bytes.data(), bytes.size(), 0) == bytes.size());
    const QString path = QStringLiteral("/proc/self/fd/") + QString::number(fd);

    try {
        const TagData tags = FLACHandler::readTags(path);
        check(tags.duration >= 0.0 && (!tags.year || (*tags.year >= 1900 && *tags.year <= 2100)));
        check(tags.genre.isEmpty() || FLACHandler::readGenre(path)); // a genre means a GENRE entry
    } catch (const AppError&) {
    }
    try {
        for (const FLACHandler::MetadataBlock& block : FLACHandler::parseMetadataBlocks(bytes, path)) {
            check(block.headerOffset >= 4 && block.data.size() <= bytes.size() - block.headerOffset - 4);
        }
    } catch (const AppError&) {
    }
    // The comment parser on the raw input, and a parse -> serialise -> parse round trip.
    const QList<FLACHandler::VorbisComment> comments = FLACHandler::parseVorbisComment(bytes);
    const QByteArray serialised = FLACHandler::serializeVorbisComment(QStringLiteral("v"), comments);
    check(FLACHandler::parseVorbisComment(serialised) == comments);
}

void fuzzWrite(const QByteArray& bytes) {
    // The first byte picks which optional values are written.
    const uint8_t options = bytes.isEmpty() ? 0 : uint8_t(bytes[0]);
    QByteArray image = bytes;
    if (image.size() >= 5 && (options & 0x80) != 0) {
        image = QByteArray("fLaC") + image.mid(1); // reach the block walk more often
    }
    const QByteArray original = image;
    const QString genre = QStringLiteral("Ünïcode House 80er");
    const std::optional<int> year = (options & 1) ? std::optional<int>(1987) : std::nullopt;
    const std::optional<QString> title = (options & 2) ? std::optional<QString>("T") : std::nullopt;
    const std::optional<QString> artist = (options & 4) ? std::optional<QString>("A") : std::nullopt;

    QByteArray out;
    try {
        FLACHandler::validateMagic(image, QStringLiteral("/fuzz/in.flac"));
        out = AppliedPieces::apply(FLACHandler::writeGenre(genre, year, title, artist, SourceBytes(image),
                                                           QStringLiteral("/fuzz/in.flac")),
                                   image);
    } catch (const AppError&) {
    }
    check(image == original);
    if (out.isEmpty()) {
        return; // refused
    }

    // A strict walk: every block inside the image and one last flag.
    const auto before = FLACHandler::parseMetadataBlocks(original, QStringLiteral("/fuzz/in.flac"));
    const auto after = FLACHandler::parseMetadataBlocks(out, QStringLiteral("/fuzz/out.flac"));
    check(out.startsWith("fLaC") && audioStart(after) >= 0 && audioStart(before) >= 0);
    check(out.mid(audioStart(after)) == original.mid(audioStart(before)));
    // The other blocks are kept in order, STREAMINFO first.
    QList<QByteArray> kept = keptBlocks(before);
    std::stable_partition(kept.begin(), kept.end(), [](const QByteArray& b) { return b[0] == 0; });
    check(keptBlocks(after) == kept);
    int comments = 0;
    for (qsizetype i = 0; i < after.size(); ++i) {
        check(after[i].isLast == (i == after.size() - 1) && after[i].blockType != FLACHandler::invalid);
        if (after[i].blockType == FLACHandler::vorbisComment) {
            ++comments;
            const auto parsed = FLACHandler::parseVorbisComment(after[i].data);
            // The readers report the last GENRE entry: it holds the new genre.
            const auto last = std::find_if(parsed.crbegin(), parsed.crend(),
                                           [](const auto& c) { return c.key == QLatin1String("GENRE"); });
            check(last != parsed.crend() && last->value == genre);
        }
    }
    check(comments == 1 && after.last().blockType == FLACHandler::padding &&
          after.last().data == QByteArray(FLACHandler::writtenPaddingLength, '\0'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    fuzzRead(bytes);
    fuzzWrite(bytes);
    return 0;
}
