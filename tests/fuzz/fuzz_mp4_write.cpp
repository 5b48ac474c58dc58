// Feeds arbitrary bytes to MP4Handler::writeGenre. A write either is refused
// with AppError or gives a file from which the new genre reads back, and in
// which every top-level byte outside the movie is where the rules put it.
#include "model/AppError.h"
#include "tagio/MP4Handler.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
