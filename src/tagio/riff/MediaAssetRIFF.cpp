// The media layer for AIFF and WAV files: the chunk walk, the ID3v2 tag of an
// "ID3 " chunk (read by MediaAssetID3v2.cpp), the RIFF INFO list of a WAV file
// as items, and the duration from the format chunk.

#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/MediaAssetParts.h"

#include <QMap>

#include <cmath>

namespace media {

namespace {

struct Chunk {
    QByteArray name;
    qint64 offset = 0; // of the body
    qint64 size = 0;
    qint64 padding = 0;
};

bool validChunkName(const QByteArray& name) {
    for (char c : name) {
        if (uint8_t(c) < 32 || uint8_t(c) > 126) {
            return false;
        }
    }
    return name.size() == 4;
}

// The chunks of a RIFF or FORM file as TagLib lists them: the walk ends at an
// invalid name or a chunk that runs past the end of the file.
QList<Chunk> listChunks(Window& in, bool bigEndian) {
    QList<Chunk> chunks;
    qint64 offset = 12;
    while (offset + 8 <= in.size() && chunks.size() < kMaxWalk) {
        const auto head = in.read(offset, 8);
        if (!head || !validChunkName(head->left(4))) {
            break;
        }
        Chunk chunk;
        chunk.name = head->left(4);
        chunk.size = bigEndian ? Bytes::u32BE(*head, 4) : Bytes::u32LE(*head, 4);
        chunk.offset = offset + 8;
        if (chunk.size > in.size() - chunk.offset) {
            break;
        }
        offset = chunk.offset + chunk.size;
        if (offset & 1) {
            const auto pad = in.read(offset, 1);
            if (pad && pad->at(0) == 0) {
                chunk.padding = 1;
                ++offset;
            }
        }
        chunks.append(chunk);
    }
    return chunks;
}

// An 80-bit IEEE extended value (the AIFF sample rate).
double extended80(const QByteArray& b, qint64 offset) {
    const int exponent = int(Bytes::u16BE(b, offset) & 0x7FFF);
    const uint64_t mantissa = Bytes::u64BE(b, offset + 2);
    if (exponent == 0 && mantissa == 0) {
        return 0.0;
    }
    return std::ldexp(double(mantissa), exponent - 16383 - 63);
}

// The fields of a RIFF INFO list as TagLib's generic tag reports them.
void appendInfo(QList<Item>& items, const QByteArray& list) {
    QMap<QByteArray, QString> fields;
    for (qint64 p = 4; p + 8 <= list.size();) {
        const qint64 size = Bytes::u32LE(list, p + 4);
        if (size > list.size() - p - 8) {
            break;
        }
        const QByteArray id = list.mid(p, 4);
        if (validChunkName(id)) {
            fields[id] = cutAtNul(QString::fromUtf8(list.mid(p + 8, size)));
        }
        p += ((size + 1) & ~qint64(1)) + 8;
    }
    QMap<QString, QString> properties; // sorted by name, as TagLib's map
    auto put = [&](const char* name, const QString& value) {
        if (!value.isEmpty()) {
            properties.insert(QLatin1String(name), value);
        }
    };
    put("TITLE", fields.value("INAM"));
    put("ARTIST", fields.value("IART"));
    put("ALBUM", fields.value("IPRD"));
    put("COMMENT", fields.value("ICMT"));
    put("GENRE", fields.value("IGNR"));
    const int year = fields.value("ICRD").left(4).toInt();
    put("DATE", year != 0 ? QString::number(year) : QString());
    const int track = fields.value("IPRT").toInt();
    put("TRACKNUMBER", track != 0 ? QString::number(track) : QString());
    for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
        items.append(
            makeItem(MediaAsset::keySpaceRIFFInfo, it.key(), commonKeyForProperty(it.key()), it.value()));
    }
}

} // namespace

std::optional<Parsed> readRiff(const ByteSource& source, bool aiff) {
    Window in(source);
    const auto magic = in.read(0, 4);
    if (!magic || *magic != (aiff ? QByteArrayLiteral("FORM") : QByteArrayLiteral("RIFF"))) {
        throwNoAudio(source.path());
    }
    const QList<Chunk> chunks = listChunks(in, aiff);
    Parsed parsed;
    std::optional<QByteArray> format;
    std::optional<QByteArray> info;
    bool haveTag = false;
    qint64 streamLength = 0;
    qint64 totalSamples = 0;
    for (const Chunk& c : chunks) {
        if (c.name == "ID3 " || c.name == "id3 ") {
            if (!haveTag) {
                haveTag = true;
                auto items = readID3v2Items(source, in, c.offset, c.offset + c.size);
                if (!items) {
                    return std::nullopt;
                }
                parsed.items = std::move(*items);
            }
        } else if (c.name == (aiff ? "COMM" : "fmt ")) {
            if (!format) {
                format = in.read(c.offset, std::min<qint64>(c.size, 64));
            }
        } else if (c.name == (aiff ? "SSND" : "data")) {
            if (streamLength == 0) {
                streamLength = c.size + c.padding;
            }
        } else if (!aiff && c.name == "fact") {
            if (totalSamples == 0) {
                totalSamples = Bytes::u32LE(in.readAtMost(c.offset, 4), 0);
            }
        } else if (!aiff && c.name == "LIST" && !info && c.size <= kMaxValueBody) {
            const auto list = in.read(c.offset, c.size);
            if (list && list->startsWith("INFO")) {
                info = list;
            }
        }
    }
    if (info) {
        appendInfo(parsed.items, *info);
    }
    double milliseconds = 0;
    int sampleRate = 0;
    if (aiff) {
        if (!format || format->size() < 18 || streamLength == 0) {
            throwNoAudio(source.path());
        }
        const double rate = extended80(*format, 8);
        sampleRate = rate >= 1.0 && rate <= 1e7 ? int(rate + 0.5) : 0;
        const qint64 frames = Bytes::u32BE(*format, 2);
        if (frames > 0 && sampleRate > 0) {
            milliseconds = double(frames) * 1000.0 / rate;
        }
    } else {
        if (!format || format->size() < 16 || streamLength == 0) {
            throwNoAudio(source.path());
        }
        const auto u16LE = [&](qint64 at) {
            return int(uint8_t(format->at(at)) | uint8_t(format->at(at + 1)) << 8);
        };
        const int tag = u16LE(0);
        const int channels = u16LE(2);
        sampleRate = int(Bytes::u32LE(*format, 4));
        const int bits = u16LE(14);
        const bool pcm = tag == 1 || tag == 3 || tag == 0xFFFE;
        qint64 frames = 0;
        if (!pcm || (tag == 3 && totalSamples > 0)) {
            frames = totalSamples;
        } else if (channels > 0 && bits > 0) {
            frames = streamLength / (qint64(channels) * ((bits + 7) / 8));
        }
        if (frames > 0 && sampleRate > 0) {
            milliseconds = double(frames) * 1000.0 / sampleRate;
        } else if (const qint64 perSecond = Bytes::u32LE(*format, 8); perSecond > 0) {
            milliseconds = double(streamLength) * 1000.0 / double(perSecond);
        }
    }
    if (sampleRate <= 0) {
        throwNoAudio(source.path());
    }
    parsed.duration = roundedSeconds(milliseconds);
    return parsed;
}

} // namespace media
