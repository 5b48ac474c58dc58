// Feeds arbitrary bytes to the FLAC read path: the file walk (through an
// in-memory file, so nothing is written to disk), the block list and the
// comment parser.
#include "model/AppError.h"
#include "tagio/FLACHandler.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int memoryFile() {
    static const int fd = memfd_create("fuzz_flac_read", MFD_CLOEXEC);
    if (fd < 0) {
        std::abort();
    }
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memoryFile();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) {
        std::abort();
    }
    const QString path = QStringLiteral("/proc/self/fd/") + QString::number(fd);
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    try {
        const TagData tags = FLACHandler::readTags(path);
        if (tags.duration < 0.0 || (tags.year && (*tags.year < 1900 || *tags.year > 2100))) {
            std::abort();
        }
        const std::optional<QString> genre = FLACHandler::readGenre(path);
        if (!tags.genre.isEmpty() && !genre) {
            std::abort(); // a tag set with a genre has at least one GENRE entry
        }
    } catch (const AppError&) {
    }
    try {
        for (const FLACHandler::MetadataBlock& block : FLACHandler::parseMetadataBlocks(bytes, path)) {
            if (block.headerOffset < 4 || block.data.size() > bytes.size() - block.headerOffset - 4) {
                std::abort();
            }
        }
    } catch (const AppError&) {
    }
    // The comment parser on the raw input, and a parse -> serialise -> parse round trip.
    const QList<FLACHandler::VorbisComment> comments = FLACHandler::parseVorbisComment(bytes);
    const QByteArray again = FLACHandler::serializeVorbisComment(QStringLiteral("v"), comments);
    if (FLACHandler::parseVorbisComment(again) != comments) {
        std::abort();
    }
    return 0;
}
