// Arbitrary bytes to the MP4 readers (the item-list header walk and the whole-moov read agree)
// and to the writer: a write is refused with AppError or its genre reads back.
#include "../support/AppliedPieces.h"
#include "model/AppError.h"
#include "tagio/mp4/MP4Handler.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// `bytes` as the content of an in-memory file, by its /proc path.
QString memoryFile(const QByteArray& bytes) {
    static const int fd = memfd_create("fuzz_mp4", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 ||
        pwrite(fd, bytes.constData(), size_t(bytes.size()), 0) != bytes.size()) {
        std::abort();
    }
    return QStringLiteral("/proc/self/fd/") + QString::number(fd);
}

const MP4Handler handler(QStringList(80, QStringLiteral("Genre")));

void walk(const QByteArray& bytes, const QList<MP4Handler::Atom>& atoms) {
    for (const auto& atom : atoms) {
        if (atom.start < 0 || atom.end > bytes.size() || atom.start >= atom.end) {
            std::abort();
        }
        MP4Handler::readItemText(atom, bytes);
        handler.readGenreNumber(atom, bytes);
        walk(bytes, atom.children);
    }
}

void fuzzRead(const QByteArray& bytes) {
    const auto top = MP4Handler::parseAtoms(bytes, 0, bytes.size());
    walk(bytes, top);
    for (const auto& atom : top) {
        if (atom.type == QStringLiteral("moov")) {
            MP4Handler::findItemList(atom.children);
        }
    }

    const QString file = memoryFile(bytes);
    std::optional<MP4Handler::YearAndGenre> reference;
    try {
        reference = handler.readYearAndGenreFromWholeMovie(file);
    } catch (const AppError&) {
    }
    const auto same = [&](const std::optional<int>& year, const std::optional<QString>& genre) {
        return reference && reference->year == year && reference->genre == genre;
    };
    bool agree = true;
    try {
        if (const auto walked = handler.readYearAndGenreByHeaderWalk(file)) {
            agree = agree && same(walked->year, walked->genre);
        }
        const MP4Handler::YearAndGenre combined = handler.readYearAndGenre(file);
        agree = agree && same(combined.year, combined.genre) &&
                same(handler.readYear(file), handler.readGenre(file));
    } catch (const AppError&) {
        agree = !reference; // a file that one way cannot read, the other cannot either
    }
    if (!agree) {
        std::abort();
    }
}

void fuzzWrite(const QByteArray& bytes) {
    const QString genre = QStringLiteral("Deep House 80er");
    // The first input byte picks which optional items are written.
    const uint8_t pick = bytes.isEmpty() ? 0 : uint8_t(bytes[0]);
    QByteArray out;
    try {
        out = AppliedPieces::apply(
            handler.writeGenre(genre, (pick & 1) ? std::optional<int>(1987) : std::nullopt,
                               (pick & 2) ? std::optional<QString>(QStringLiteral("Title")) : std::nullopt,
                               (pick & 4) ? std::optional<QString>(QStringLiteral("Artist")) : std::nullopt,
                               SourceBytes(bytes), QStringLiteral("fuzz.m4a")),
            bytes);
    } catch (const AppError&) {
        return;
    }
    if (handler.readGenre(memoryFile(out)) != genre) { // an AppError here escapes: a crash too
        std::abort(); // the write reported success but its genre cannot be read back
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    fuzzRead(bytes);
    fuzzWrite(bytes);
    return 0;
}
