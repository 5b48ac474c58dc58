// The media layer for MP3 files: the ID3v2 tag (read by MediaAssetID3v2.cpp),
// an APE tag and the ID3v1 tag at the end as items, and the duration from
// the MPEG audio frame headers.

#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/id3/ID3v2Handler.h"
#include "tagio/MediaAssetParts.h"

#include <QMap>

#include <map>

namespace media {

namespace {

struct MpegHeader {
    bool valid = false;
    int samplesPerFrame = 0;
    int sampleRate = 0;
    int bitrate = 0; // kbit/s
    qint64 frameLength = 0;
};

MpegHeader parseMpegHeader(uint32_t h) {
    static const int bitrates[2][3][16] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
    static const int sampleRates[3][4] = {
        {44100, 48000, 32000, 0}, {22050, 24000, 16000, 0}, {11025, 12000, 8000, 0}};
    static const int samples[3][2] = {{384, 384}, {1152, 1152}, {1152, 576}};
    static const int paddingSize[3] = {4, 1, 1};
    MpegHeader out;
    if ((h >> 24) != 0xFF || ((h >> 21) & 0x7) != 0x7 || ((h >> 16) & 0xFF) == 0xFF) {
        return out;
    }
    const int versionBits = (h >> 19) & 0x3;
    const int layerBits = (h >> 17) & 0x3;
    if (versionBits == 1 || layerBits == 0) {
        return out;
    }
    const int version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2; // 1, 2, 2.5
    const int layer = 3 - layerBits;                                     // I, II, III as 0..2
    out.bitrate = bitrates[version == 0 ? 0 : 1][layer][(h >> 12) & 0xF];
    out.sampleRate = sampleRates[version][(h >> 10) & 0x3];
    if (out.bitrate == 0 || out.sampleRate == 0) {
        return out;
    }
    out.samplesPerFrame = samples[layer][version == 0 ? 0 : 1];
    out.frameLength = qint64(out.samplesPerFrame) * out.bitrate * 125 / out.sampleRate;
    if ((h >> 9) & 1) {
        out.frameLength += paddingSize[layer];
    }
    out.valid = out.frameLength > 0;
    return out;
}

uint32_t u32At(Window& in, qint64 offset) {
    const auto b = in.read(offset, 4);
    return b ? Bytes::u32BE(*b, 0) : 0;
}

// A frame header at `offset` that the next frame's header confirms.
MpegHeader checkedHeader(Window& in, qint64 offset) {
    const uint32_t h = u32At(in, offset);
    MpegHeader header = parseMpegHeader(h);
    if (!header.valid) {
        return header;
    }
    const auto next = in.read(offset + header.frameLength, 4);
    constexpr uint32_t mask = 0xFFFE0C00;
    if (!next || (Bytes::u32BE(*next, 0) & mask) != (h & mask)) {
        header.valid = false;
    }
    return header;
}

bool isSync(uint8_t a, uint8_t b) {
    return a == 0xFF && b != 0xFF && (b & 0xE0) == 0xE0;
}

// The first confirmed frame at or after `from`, searched within kMaxSearch bytes.
std::optional<qint64> firstFrame(Window& in, qint64 from) {
    constexpr qint64 block = 8 * 1024;
    const qint64 limit = std::min(in.size(), from + kMaxSearch);
    for (qint64 pos = from; pos < limit - 1; pos += block - 1) {
        const QByteArray bytes = in.readAtMost(pos, std::min(block, limit - pos));
        for (qsizetype i = 0; i + 1 < bytes.size(); ++i) {
            if (isSync(uint8_t(bytes[i]), uint8_t(bytes[i + 1])) && checkedHeader(in, pos + i).valid) {
                return pos + i;
            }
        }
        if (bytes.size() < 2) {
            break;
        }
    }
    return std::nullopt;
}

// The offset after the last confirmed frame before `end`, searched backwards
// within kMaxSearch bytes.
std::optional<qint64> lastFrame(Window& in, qint64 end, qint64 floor) {
    constexpr qint64 block = 4 * 1024;
    const qint64 limit = std::max(floor, end - kMaxSearch);
    for (qint64 stop = end; stop > limit;) {
        const qint64 start = std::max(limit, stop - block);
        const QByteArray bytes = in.readAtMost(start, stop - start + 1);
        for (qsizetype i = stop - start - 1; i >= 0; --i) {
            if (i + 1 < bytes.size() && isSync(uint8_t(bytes[i]), uint8_t(bytes[i + 1]))) {
                const MpegHeader h = checkedHeader(in, start + i);
                if (h.valid) {
                    return start + i + h.frameLength;
                }
            }
        }
        stop = start;
    }
    return std::nullopt;
}

// Milliseconds of the stream whose first frame is at `first`: from a Xing,
// Info or VBRI header, else from the bit rate and the audio size.
double mpegMilliseconds(Window& in, qint64 first, qint64 audioEnd) {
    const MpegHeader h = parseMpegHeader(u32At(in, first));
    const QByteArray frame = in.readAtMost(first, h.frameLength);
    qint64 frames = 0;
    qint64 bytes = 0;
    qsizetype at = frame.indexOf("Xing");
    if (at < 0) {
        at = frame.indexOf("Info");
    }
    if (at >= 0) {
        if (frame.size() >= at + 16 && (uint8_t(frame[at + 7]) & 0x03) == 0x03) {
            frames = Bytes::u32BE(frame, at + 8);
            bytes = Bytes::u32BE(frame, at + 12);
        }
    } else if ((at = frame.indexOf("VBRI")) >= 0 && frame.size() >= at + 32) {
        bytes = Bytes::u32BE(frame, at + 10);
        frames = Bytes::u32BE(frame, at + 14);
    }
    if (frames > 0 && bytes > 0) {
        return double(h.samplesPerFrame) * 1000.0 / h.sampleRate * double(frames);
    }
    const std::optional<qint64> last = lastFrame(in, audioEnd, first);
    if (!last) {
        return 0.0;
    }
    const MpegHeader lastHeader = parseMpegHeader(u32At(in, *last));
    const qint64 streamLength = *last - first + (lastHeader.valid ? lastHeader.frameLength : 0);
    return streamLength > 0 ? double(streamLength) * 8.0 / h.bitrate : 0.0;
}

QString latin1Field(const QByteArray& bytes) {
    return cutAtNul(QString::fromLatin1(bytes)).trimmed();
}

void appendID3v1(QList<Item>& items, const QByteArray& tag) {
    auto add = [&](const char* key, const QString& common, const QString& value) {
        if (!value.isEmpty()) {
            items.append(makeItem(MediaAsset::keySpaceID3v1, QLatin1String(key), common, value));
        }
    };
    const QString title = latin1Field(tag.mid(3, 30));
    const QString artist = latin1Field(tag.mid(33, 30));
    const QString album = latin1Field(tag.mid(63, 30));
    const int year = latin1Field(tag.mid(93, 4)).toInt();
    const uint8_t genre = uint8_t(tag[127]);
    if (title.isEmpty() && artist.isEmpty() && album.isEmpty() && year == 0 && genre == 255 &&
        latin1Field(tag.mid(97, 28)).isEmpty() && (tag[125] != 0 || tag[126] == 0)) {
        return; // an empty tag
    }
    add("TITLE", MediaAsset::commonKeyTitle, title);
    add("ARTIST", MediaAsset::commonKeyArtist, artist);
    add("ALBUM", MediaAsset::commonKeyAlbumName, album);
    if (year > 0) {
        add("DATE", MediaAsset::commonKeyCreationDate, QString::number(year));
    }
    if (genre < 255) {
        add("GENRE", MediaAsset::commonKeyType, QStringLiteral("(%1)").arg(genre));
    }
}

// An APE tag whose footer ends at `end`: its text items as TagLib's property
// map lists them (binary items, pictures above all, are never read) and the
// offset where the tag starts.
struct ApeTag {
    QList<Item> items;
    qint64 start = 0;
};

std::optional<ApeTag> readApe(Window& in, qint64 end) {
    const auto footer = in.read(end - 32, 32);
    if (!footer || !footer->startsWith("APETAGEX")) {
        return std::nullopt;
    }
    const qint64 size = Bytes::u32LE(*footer, 12); // items and footer
    const qint64 count = Bytes::u32LE(*footer, 16);
    const bool header = Bytes::u32LE(*footer, 20) & 0x80000000u;
    if (size < 32 || size > end) {
        return std::nullopt;
    }
    ApeTag tag;
    tag.start = end - size - (header ? 32 : 0);
    static const QMap<QString, QString> renamed = {{"TRACK", "TRACKNUMBER"},
                                                   {"YEAR", "DATE"},
                                                   {"ALBUM ARTIST", "ALBUMARTIST"},
                                                   {"DISC", "DISCNUMBER"},
                                                   {"MIXARTIST", "REMIXER"}};
    std::map<QString, QStringList> byKey; // the last item of a key wins
    qint64 pos = end - size;
    for (qint64 i = 0; i < count && i < kMaxWalk && pos + 11 <= end - 32; ++i) {
        const QByteArray head = in.readAtMost(pos, 8 + 256);
        const qint64 length = Bytes::u32LE(head, 0);
        const uint32_t flags = Bytes::u32LE(head, 4);
        const qsizetype nul = head.indexOf('\0', 8);
        if (nul < 0 || length > end - 32 - (pos + nul + 1)) {
            break;
        }
        const QString key = QString::fromLatin1(head.mid(8, nul - 8)).toUpper();
        const qint64 value = pos + nul + 1;
        pos = value + length;
        if (key.size() < 2 || ((flags >> 1) & 3) != 0 || !in.spend(length)) {
            byKey.erase(key); // a binary item replaces a text item of the same key
            continue;
        }
        byKey[key] = QString::fromUtf8(in.readAtMost(value, length)).split(QChar(0));
    }
    std::map<QString, QStringList> properties;
    for (const auto& [key, values] : byKey) {
        properties[renamed.value(key, key)].append(values);
    }
    for (const auto& [key, values] : properties) {
        for (const QString& v : values) {
            tag.items.append(makeItem(MediaAsset::keySpaceAPE, key, commonKeyForProperty(key), v));
        }
    }
    return tag;
}

} // namespace

std::optional<Parsed> readMpeg(const ByteSource& source, DirectFrames* direct) {
    Window in(source);
    Parsed parsed;
    qint64 audioStart = 0;
    const auto header = in.read(0, 10);
    if (header && header->startsWith("ID3")) {
        bool syncsafe = true;
        for (int i = 6; i < 10; ++i) {
            syncsafe = syncsafe && uint8_t(header->at(i)) < 0x80;
        }
        const qint64 size = syncsafe ? ID3v2Handler::syncsafeDecode(*header, 6) : 0;
        const bool footer = header->at(3) == 4 && (uint8_t(header->at(5)) & 0x10);
        audioStart = 10 + size + (footer ? 10 : 0);
        if (const auto range = ID3v2Handler::parseTagHeader(source)) {
            auto items = readID3v2Items(source, in, range->start, range->end, direct);
            if (!items) {
                // A tag version TagLib converts: left to TagLib, but only once
                // the audio is known to start nearby (TagLib would hunt for it).
                if (!firstFrame(in, audioStart)) {
                    throwNoAudio(source.path());
                }
                return std::nullopt;
            }
            parsed.items = std::move(*items);
        }
    }
    qint64 audioEnd = in.size();
    const QByteArray tail = in.readAtMost(std::max<qint64>(0, in.size() - 160), 160);
    const QByteArray v1 = tail.right(128);
    const bool hasV1 = v1.size() == 128 && v1.startsWith("TAG");
    if (hasV1) {
        audioEnd -= 128;
    }
    if (const auto ape = readApe(in, audioEnd)) {
        parsed.items.append(ape->items);
        audioEnd = ape->start;
    }
    if (hasV1) {
        appendID3v1(parsed.items, v1);
    }
    const std::optional<qint64> first = firstFrame(in, audioStart);
    if (!first) {
        throwNoAudio(source.path());
    }
    parsed.duration =
        roundedSeconds(mpegMilliseconds(in, *first, audioEnd < in.size() ? audioEnd - 1 : audioEnd));
    return parsed;
}

} // namespace media
