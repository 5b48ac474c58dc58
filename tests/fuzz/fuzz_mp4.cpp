// Feeds arbitrary bytes to the MP4 readers (the header walk of the item list
// and the whole-moov read must agree) and to the writer: a write is refused
// with AppError or gives a file from which the new genre reads back.
#include "model/AppError.h"
#include "tagio/MP4Handler.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace {

QStringList genreNames() {
    QStringList names;
    for (int i = 0; i < 80; ++i) {
        names.append(QStringLiteral("Genre %1").arg(i));
    }
    return names;
}

void walk(const MP4Handler& handler, const QByteArray& bytes, const QList<MP4Handler::Atom>& atoms) {
    for (const auto& atom : atoms) {
        if (atom.start < 0 || atom.end > bytes.size() || atom.start >= atom.end) {
            std::abort();
        }
        MP4Handler::readItemText(atom, bytes);
        handler.readGenreNumber(atom, bytes);
        walk(handler, bytes, atom.children);
    }
}

int fuzzRead(const uint8_t* data, size_t size) {
    static const MP4Handler handler(genreNames());
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    const auto top = MP4Handler::parseAtoms(bytes, 0, bytes.size());
    walk(handler, bytes, top);
    for (const auto& atom : top) {
        if (atom.type == QStringLiteral("moov")) {
            MP4Handler::findItemList(atom.children);
        }
    }

    char path[] = "/tmp/velmora-fuzz-mp4-read-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        return 0;
    }
    const bool written = ::write(fd, data, size) == ssize_t(size);
    ::close(fd);
    if (written) {
        const QString file = QString::fromLocal8Bit(path);
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
            agree = agree && same(combined.year, combined.genre);
            const std::optional<QString> genre = handler.readGenre(file);
            const std::optional<int> year = handler.readYear(file);
            agree = agree && same(year, genre);
        } catch (const AppError&) {
            agree = !reference; // a file that one way cannot read, the other cannot either
        }
        if (!agree) {
            ::unlink(path);
            std::abort();
        }
    }
    ::unlink(path);
    return 0;
}

int fuzzWrite(const uint8_t* data, size_t size) {
    static const MP4Handler handler(QStringList(80, QStringLiteral("Genre")));
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString genre = QStringLiteral("Deep House 80er");
    // The first input byte picks which optional items are written.
    const uint8_t pick = size > 0 ? data[0] : 0;
    QByteArray out;
    try {
        out = handler.writeGenre(genre, (pick & 1) ? std::optional<int>(1987) : std::nullopt,
                                 (pick & 2) ? std::optional<QString>(QStringLiteral("Title")) : std::nullopt,
                                 (pick & 4) ? std::optional<QString>(QStringLiteral("Artist")) : std::nullopt,
                                 bytes, QStringLiteral("fuzz.m4a"));
    } catch (const AppError&) {
        return 0;
    }

    char path[] = "/tmp/velmora-fuzz-mp4-write-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        return 0;
    }
    const bool written = ::write(fd, out.constData(), size_t(out.size())) == ssize_t(out.size());
    ::close(fd);
    std::optional<QString> back;
    bool readFailed = false;
    try {
        back = handler.readGenre(QString::fromLocal8Bit(path));
    } catch (const AppError&) {
        readFailed = true;
    }
    ::unlink(path);
    if (written && !readFailed && back != genre) {
        std::abort(); // the write reported success but its genre cannot be read back
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzRead(data, size);
    return fuzzWrite(data, size);
}
