// Feeds arbitrary bytes to the ID3 write path as MP3, AIFF and WAV. A write
// either fails with AppError::tagWriteFailed or returns a file whose tag reads
// back with the new genre and whose audio is unchanged. Works in memory only.
#include "model/AppError.h"
#include "tagio/ID3v2Handler.h"

#include <QByteArray>

#include <algorithm>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString genre = QStringLiteral("House 80er");

    for (const char* name : {"/fuzz/f.mp3", "/fuzz/f.aiff", "/fuzz/f.wav"}) {
        const QString path = QString::fromLatin1(name);
        QByteArray out;
        try {
            out = ID3v2Handler::writeGenre(genre, 1987, std::nullopt, QStringLiteral("A"), bytes, path);
        } catch (const AppError& e) {
            check(e.kind() == AppError::Kind::tagWriteFailed);
            continue;
        }
        const auto range = ID3v2Handler::locateTag(out, path);
        check(range.has_value());
        const QByteArray tag = out.mid(range->start, range->length());
        check(ID3v2Handler::findGenreFrame(tag) == genre);
        check(ID3v2Handler::findTextFrame({"TYER", "TDRC"}, tag) == QStringLiteral("1987"));
        if (ID3v2Handler::containerFor(path) == ID3v2Handler::Container::mp3) {
            // Everything after the old tag (and its v2.4 footer) follows the new one unchanged.
            qint64 audioStart = ID3v2Handler::parseTagHeader(bytes).value_or(ID3v2Handler::Range{}).end;
            if (audioStart > 0 && bytes[3] == 4 && (bytes[5] & 0x10) && bytes.mid(audioStart, 3) == "3DI") {
                audioStart = std::min<qint64>(bytes.size(), audioStart + 10);
            }
            check(out.endsWith(bytes.mid(audioStart)));
        } else {
            check(out.size() >= 12 && out.left(4) == bytes.left(4) && out.mid(8, 4) == bytes.mid(8, 4));
        }
        // Writing the result again keeps working and gives the same tag.
        const QByteArray again =
            ID3v2Handler::writeGenre(genre, 1987, std::nullopt, QStringLiteral("A"), out, path);
        const auto range2 = ID3v2Handler::locateTag(again, path);
        check(range2.has_value() && again.mid(range2->start, range2->length()) == tag);
    }
    return 0;
}
