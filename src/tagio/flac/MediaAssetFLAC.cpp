// The media layer for FLAC files: the Vorbis comments as TagLib's property
// map lists them and the duration from STREAMINFO.

#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/flac/FLACBlocks.h"
#include "tagio/id3/ID3v2Handler.h"
#include "tagio/MediaAssetParts.h"

#include <map>

namespace media {

namespace {

bool validKey(const QString& key) {
    if (key.isEmpty()) {
        return false;
    }
    for (QChar c : key) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7D || c == QLatin1Char('=')) {
            return false;
        }
    }
    return true;
}

QString upperAscii(QString text) {
    for (QChar& c : text) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) {
            c = QChar(c.unicode() - 32);
        }
    }
    return text;
}

// The comment fields by upper-cased key, values in file order; pictures and
// empty values left out.
std::map<QString, QStringList> commentFields(const QByteArray& body) {
    std::map<QString, QStringList> fields;
    const std::optional<flac::CommentEntries> entries = flac::commentEntries(body);
    // TagLib reads no entry at all when the count cannot fit in the body.
    if (!entries || entries->count > (body.size() - 8) / 4) {
        return fields;
    }
    flac::forEachCommentEntry(body, *entries, [&](qint64 start, qint64 length) {
        const QByteArray entry = body.mid(start, length);
        const qsizetype sep = entry.indexOf('=');
        if (sep < 1) {
            return;
        }
        const QString key = upperAscii(cutAtNul(QString::fromUtf8(entry.left(sep))));
        if (!validKey(key) || key == QLatin1String("METADATA_BLOCK_PICTURE") ||
            key == QLatin1String("COVERART")) {
            return;
        }
        const QString value = cutAtNul(QString::fromUtf8(entry.mid(sep + 1)));
        if (!value.isEmpty()) {
            fields[key].append(value);
        }
    });
    return fields;
}

} // namespace

std::optional<Parsed> readFlac(const ByteSource& source) {
    Window in(source);
    qint64 pos = 0;
    bool id3 = false;
    if (const auto tag = ID3v2Handler::parseTagHeader(source)) {
        id3 = true;
        pos = tag->end;
    }
    // The stream marker, searched for as TagLib does (within a bound).
    qint64 marker = -1;
    constexpr qint64 block = 64 * 1024;
    for (qint64 at = pos; marker < 0 && at < pos + kMaxSearch && at < in.size(); at += block - 3) {
        const qsizetype found = in.readAtMost(at, block).indexOf("fLaC");
        marker = found >= 0 ? at + found : -1;
    }
    if (marker < 0) {
        throwNoAudio(source.path());
    }
    pos = marker + 4;
    std::optional<QByteArray> streamInfo;
    std::optional<QByteArray> comment;
    for (int n = 0; n < kMaxWalk; ++n) {
        const auto header = in.read(pos, 4);
        if (!header) {
            throwNoAudio(source.path());
        }
        const auto [last, type, length] = flac::blockHeader(*header);
        if ((n == 0 && type != 0) || (length == 0 && type != 1 && type != 3) ||
            length > in.size() - pos - 4) {
            throwNoAudio(source.path());
        }
        if (type == 0 && !streamInfo) {
            streamInfo = in.read(pos + 4, length);
        } else if (type == 4 && !comment) {
            comment = in.read(pos + 4, length);
        }
        pos += 4 + length;
        if (last) {
            break;
        }
    }
    const std::map<QString, QStringList> fields =
        comment ? commentFields(*comment) : std::map<QString, QStringList>();
    if (fields.empty() && (id3 || in.read(in.size() - 128, 3) == QByteArrayLiteral("TAG"))) {
        return std::nullopt; // the file's tag is an ID3 tag
    }
    Parsed parsed;
    for (const auto& [key, values] : fields) {
        for (const QString& value : values) {
            parsed.items.append(makeItem(MediaAsset::keySpaceOther, key, commonKeyForProperty(key), value));
        }
    }
    const QByteArray& info = streamInfo.value_or(QByteArray());
    if (info.size() < 18) {
        throwNoAudio(source.path());
    }
    const uint32_t flags = Bytes::u32BE(info, 10);
    const qint64 sampleRate = flags >> 12;
    const qint64 frames = (qint64(flags & 0xF) << 32) | Bytes::u32BE(info, 14);
    if (sampleRate <= 0) {
        throwNoAudio(source.path());
    }
    parsed.duration = roundedSeconds(frames > 0 ? double(frames) * 1000.0 / double(sampleRate) : 0.0);
    return parsed;
}

} // namespace media
