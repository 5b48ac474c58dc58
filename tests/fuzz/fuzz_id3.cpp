// Arbitrary bytes as MP3, AIFF and WAV: in-memory and bounded file reads agree; a write fails
// with tagWriteFailed or reads back with the new values and the audio unchanged.
#include "../support/AppliedPieces.h"
#include "../support/Id3Frames.h"
#include "model/AppError.h"
#include "model/DecadeRule.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/id3/ID3v2Handler.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The input with a PRIV frame (ID3v2.3/2.4) or "junk" chunk (RIFF/FORM) in front so that its
// frames or chunks start at `at`; empty when the input has no such header.
QByteArray placedAt(const QByteArray& input, qint64 at, bool mp3, bool wav) {
    const qint64 headerLength = mp3 ? 10 : 12, body = at - headerLength - (mp3 ? 10 : 8);
    if (!input.startsWith(mp3 ? "ID3" : (wav ? "RIFF" : "FORM")) || input.size() < headerLength ||
        (mp3 && (uint8_t(input[3]) > 4 || (uint8_t(input[5]) & 0x40)))) {
        return {};
    }
    const auto size = [wav](qint64 v, bool syncsafe) {
        QByteArray out = syncsafe ? ID3v2Handler::syncsafeEncode(uint32_t(v)) : QByteArray();
        if (!syncsafe) {
            wav ? Bytes::appendU32LE(out, uint32_t(v)) : Bytes::appendU32BE(out, uint32_t(v));
        }
        return out;
    };
    QByteArray header = input.left(headerLength);
    const qint64 oldSize = mp3 ? ID3v2Handler::syncsafeDecode(header, 6)
                               : (wav ? Bytes::u32LE(header, 4) : Bytes::u32BE(header, 4));
    header.replace(mp3 ? 6 : 4, 4, size(oldSize + (mp3 ? 10 : 8) + body, mp3));
    const QByteArray filler =
        mp3 ? "PRIV" + size(body, header[3] == 4) + QByteArray(2, '\0') : "junk" + size(body, false);
    return header + filler + QByteArray(body, '\0') + input.mid(headerLength);
}

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

std::optional<QByteArray> tagIn(const QByteArray& file, const QString& path) {
    const auto range = ID3v2Handler::locateTag(file, path);
    return range ? std::optional(file.mid(range->start, range->length())) : std::nullopt;
}

// The year and genre the whole tag, read into memory, gives.
bool agrees(const ID3v2Handler::YearAndGenre& walked, const std::optional<QByteArray>& tag) {
    const auto text = Id3Frames::findTextFrame({"TYER", "TDRC"}, tag.value_or(QByteArray()));
    return walked.year == (text ? extractYear(*text) : std::nullopt) &&
           walked.genre == Id3Frames::findGenreFrame(tag.value_or(QByteArray()));
}

void fuzzRead(const QByteArray& bytes) {
    static const QTemporaryDir dir;
    check(dir.isValid());

    // In-memory helpers on the raw bytes (locateTag below runs the container parsers on them).
    Id3Frames::findGenreFrame(bytes);
    Id3Frames::findTextFrame({"TYER", "TDRC"}, bytes);
    Id3Frames::listFrames(bytes);
    if (!bytes.isEmpty()) {
        ID3v2Handler::decodeTextStrict(bytes.mid(1), uint8_t(bytes[0]));
    }

    // The bounded file read path for each container.
    for (const char* name : {"f.mp3", "f.aiff", "f.wav"}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        const auto store = [&path](const QByteArray& content) {
            QFile file(path);
            check(file.open(QIODevice::WriteOnly) && file.write(content) == content.size()); // truncates
        };
        store(bytes);
        // The file exists and is readable: an error escaping here is a crash.
        const auto genre = ID3v2Handler::readGenre(path);
        const auto year = ID3v2Handler::readYear(path);
        const auto source = ByteSource::open(path);
        check(source && ID3v2Handler::locateTag(*source, path) == ID3v2Handler::locateTag(bytes, path));
        check(!year || (*year >= 1920 && *year <= 2100));
        // The frame-header walk gives what the whole tag read into memory gives.
        const ID3v2Handler::YearAndGenre walked = ID3v2Handler::readYearAndGenre(*source, path);
        check(walked.year == year && walked.genre == genre &&
              agrees(walked, ID3v2Handler::readTag(*source, path)));

        // The input placed 4096 - 80 .. 4096 bytes in (by its length), so that the walk's header
        // reads cross the reader's 4096-byte block: the walk must agree with the tag in memory.
        const qint64 at = 4096 - 80 + bytes.size() % 81;
        const QByteArray image = placedAt(bytes, at, name[2] == 'm', name[2] == 'w');
        if (image.isEmpty()) {
            continue;
        }
        store(image);
        const auto placed = ByteSource::open(path);
        check(placed && ID3v2Handler::locateTag(*placed, path) == ID3v2Handler::locateTag(image, path));
        check(agrees(ID3v2Handler::readYearAndGenre(*placed, path), tagIn(image, path)));
    }
}

void fuzzWrite(const QByteArray& bytes) {
    const QString genre = QStringLiteral("House 80er");
    for (const char* name : {"/fuzz/f.mp3", "/fuzz/f.aiff", "/fuzz/f.wav"}) {
        const QString path = QString::fromLatin1(name);
        const auto write = [&](const QByteArray& file) {
            return AppliedPieces::apply(ID3v2Handler::writeGenre(genre, 1987, std::nullopt,
                                                                 QStringLiteral("A"), SourceBytes(file),
                                                                 path),
                                        file);
        };
        QByteArray out;
        try {
            out = write(bytes);
        } catch (const AppError& e) {
            check(e.kind() == AppError::Kind::tagWriteFailed);
            continue;
        }
        const auto tag = tagIn(out, path);
        check(tag && Id3Frames::findGenreFrame(*tag) == genre &&
              Id3Frames::findTextFrame({"TYER", "TDRC"}, *tag) == QStringLiteral("1987"));
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
        check(tagIn(write(out), path) == tag);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    fuzzRead(bytes);
    fuzzWrite(bytes);
    return 0;
}
