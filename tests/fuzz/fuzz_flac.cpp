// Arbitrary bytes to the FLAC readers and writer: an accepted image has a valid block layout ending
// in the 256-byte padding, the audio and kept blocks unchanged and the new genre.
#include "model/AppError.h"
#include "tagio/Bytes.h"
#include "tagio/FLACHandler.h"

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

int memoryFile() {
    static const int fd = memfd_create("fuzz_flac_read", MFD_CLOEXEC);
    if (fd < 0) {
        std::abort();
    }
    return fd;
}

struct Walk {
    QList<FLACHandler::MetadataBlock> blocks;
    qint64 audioStart = -1;
};

// A strict walk: every block inside the image and one last flag.
Walk walk(const QByteArray& image) {
    Walk result;
    result.blocks = FLACHandler::parseMetadataBlocks(image, QStringLiteral("/fuzz/out.flac"));
    if (!result.blocks.isEmpty() && result.blocks.last().isLast) {
        const auto& last = result.blocks.last();
        result.audioStart = last.headerOffset + 4 + last.data.size();
    }
    return result;
}

int fuzzRead(const uint8_t* data, size_t size) {
    const int fd = memoryFile();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) {
        std::abort();
    }
    const QString path = QStringLiteral("/proc/self/fd/") + QString::number(fd);
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

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
    check(FLACHandler::parseVorbisComment(FLACHandler::serializeVorbisComment(QStringLiteral("v"), comments)) == comments);
    return 0;
}

int fuzzWrite(const uint8_t* data, size_t size) {
    // The first byte picks which optional values are written.
    const uint8_t options = size > 0 ? data[0] : 0;
    QByteArray image(reinterpret_cast<const char*>(data), qsizetype(size));
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
        out = FLACHandler::writeGenre(genre, year, title, artist, image, QStringLiteral("/fuzz/in.flac"));
    } catch (const AppError&) {
        check(image == original);
        return 0;
    }
    check(image == original);

    const Walk before = walk(original);
    const Walk after = walk(out);
    check(out.startsWith("fLaC") && after.audioStart >= 0 && before.audioStart >= 0);
    check(out.mid(after.audioStart) == original.mid(before.audioStart));

    QList<QByteArray> keptBefore;
    QList<QByteArray> keptAfter;
    for (const auto& block : before.blocks) {
        if (block.blockType != FLACHandler::padding && block.blockType != FLACHandler::vorbisComment) {
            keptBefore.append(QByteArray(1, char(block.blockType)) + block.data);
        }
    }
    std::stable_partition(keptBefore.begin(), keptBefore.end(),
                          [](const QByteArray& b) { return b[0] == 0; });
    int comments = 0;
    for (qsizetype i = 0; i < after.blocks.size(); ++i) {
        const auto& block = after.blocks[i];
        check(block.isLast == (i == after.blocks.size() - 1));
        check(block.blockType != FLACHandler::invalid);
        if (block.blockType == FLACHandler::vorbisComment) {
            ++comments;
            const auto parsed = FLACHandler::parseVorbisComment(block.data);
            // The readers report the last GENRE entry: it holds the new genre.
            const auto last = std::find_if(parsed.crbegin(), parsed.crend(),
                                           [](const auto& c) { return c.key == QLatin1String("GENRE"); });
            check(last != parsed.crend() && last->value == genre);
        } else if (block.blockType != FLACHandler::padding) {
            keptAfter.append(QByteArray(1, char(block.blockType)) + block.data);
        }
    }
    check(comments == 1 && keptAfter == keptBefore);
    check(after.blocks.last().blockType == FLACHandler::padding &&
          after.blocks.last().data == QByteArray(FLACHandler::writtenPaddingLength, '\0'));
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzRead(data, size);
    return fuzzWrite(data, size);
}
