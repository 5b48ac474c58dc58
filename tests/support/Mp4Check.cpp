#include "Mp4Check.h"

#include <QFile>

#include <taglib/id3v1genres.h>
#include <taglib/mp4file.h>

#include <cstring>

namespace Mp4Check {

namespace {

struct Box {
    QByteArray type;
    qint64 start = 0;
    qint64 payload = 0;
    qint64 end = 0;
};

quint64 be(const QByteArray& b, qint64 at, int width) {
    quint64 v = 0;
    for (int i = 0; i < width; ++i) {
        v = (v << 8) | quint8(b[at + i]);
    }
    return v;
}

// Strict: every box must fit its range exactly, else no value. A top-level
// tail shorter than a header is allowed.
std::optional<QList<Box>> boxes(const QByteArray& b, qint64 start, qint64 end) {
    QList<Box> out;
    qint64 o = start;
    while (o < end) {
        if (end - o < 8) {
            if (start == 0 && end == b.size()) {
                break;
            }
            return std::nullopt;
        }
        quint64 size = be(b, o, 4);
        qint64 header = 8;
        if (size == 1) {
            if (end - o < 16) {
                return std::nullopt;
            }
            size = be(b, o + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = quint64(end - o);
        }
        if (size < quint64(header) || size > quint64(end - o)) {
            return std::nullopt;
        }
        out.append(Box{b.mid(o + 4, 4), o, o + header, o + qint64(size)});
        o += qint64(size);
    }
    return out;
}

std::optional<Box> child(const QByteArray& b, const Box& parent, const QByteArray& type, qint64 skip = 0) {
    const auto list = boxes(b, parent.payload + skip, parent.end);
    if (!list) {
        return std::nullopt;
    }
    for (const Box& c : *list) {
        if (c.type == type) {
            return c;
        }
    }
    return std::nullopt;
}

} // namespace

QList<TopAtom> topLevel(const QByteArray& file) {
    QList<TopAtom> out;
    const auto list = boxes(file, 0, file.size());
    if (list) {
        for (const Box& box : *list) {
            out.append(TopAtom{box.type, box.start, box.end - box.start});
        }
    }
    return out;
}

std::optional<QByteArray> atomPayload(const QByteArray& file, const QList<QByteArray>& path) {
    Box current{QByteArray(), 0, 0, file.size()};
    for (const QByteArray& type : path) {
        const auto next = child(file, current, type, current.type == "meta" ? 4 : 0);
        if (!next) {
            return std::nullopt;
        }
        current = *next;
    }
    return file.mid(current.payload, current.end - current.payload);
}

QList<QByteArray> itemTypes(const QByteArray& file) {
    QList<QByteArray> out;
    const auto ilst = atomPayload(file, {"moov", "udta", "meta", "ilst"});
    if (ilst) {
        if (const auto list = boxes(*ilst, 0, ilst->size())) {
            for (const Box& box : *list) {
                out.append(box.type);
            }
        }
    }
    return out;
}

std::optional<QList<QList<Chunk>>> chunks(const QByteArray& file) {
    const auto top = boxes(file, 0, file.size());
    if (!top) {
        return std::nullopt;
    }
    QList<QList<Chunk>> tracks;
    for (const Box& moov : *top) {
        if (moov.type != "moov") {
            continue;
        }
        const auto traks = boxes(file, moov.payload, moov.end);
        if (!traks) {
            return std::nullopt;
        }
        for (const Box& trak : *traks) {
            if (trak.type != "trak") {
                continue;
            }
            const auto mdia = child(file, trak, "mdia");
            const auto minf = mdia ? child(file, *mdia, "minf") : std::nullopt;
            const auto stbl = minf ? child(file, *minf, "stbl") : std::nullopt;
            if (!stbl) {
                return std::nullopt;
            }
            auto co = child(file, *stbl, "stco");
            const bool wide = !co;
            if (!co) {
                co = child(file, *stbl, "co64");
            }
            const auto stsz = child(file, *stbl, "stsz");
            const auto stsc = child(file, *stbl, "stsc");
            if (!co || !stsz || !stsc) {
                return std::nullopt;
            }
            const qint64 chunkCount = qint64(be(file, co->payload + 4, 4));
            const qint64 fixedSize = qint64(be(file, stsz->payload + 4, 4));
            const qint64 sampleCount = qint64(be(file, stsz->payload + 8, 4));
            const qint64 runs = qint64(be(file, stsc->payload + 4, 4));
            QList<Chunk> list;
            qint64 sample = 0;
            for (qint64 c = 0; c < chunkCount; ++c) {
                qint64 perChunk = 0;
                for (qint64 r = 0; r < runs; ++r) {
                    if (qint64(be(file, stsc->payload + 8 + 12 * r, 4)) <= c + 1) {
                        perChunk = qint64(be(file, stsc->payload + 12 + 12 * r, 4));
                    }
                }
                Chunk chunk;
                chunk.offset =
                    wide ? be(file, co->payload + 8 + 8 * c, 8) : be(file, co->payload + 8 + 4 * c, 4);
                for (qint64 s = 0; s < perChunk && sample < sampleCount; ++s, ++sample) {
                    chunk.length +=
                        fixedSize ? fixedSize : qint64(be(file, stsz->payload + 12 + 4 * sample, 4));
                }
                list.append(chunk);
            }
            tracks.append(list);
        }
    }
    return tracks;
}

QString compareChunks(const QByteArray& before, const QByteArray& after) {
    const auto a = chunks(before);
    const auto b = chunks(after);
    if (!a || !b) {
        return QStringLiteral("sample tables unreadable");
    }
    if (a->size() != b->size()) {
        return QStringLiteral("track count differs");
    }
    qint64 compared = 0;
    for (qsizetype t = 0; t < a->size(); ++t) {
        if ((*a)[t].size() != (*b)[t].size()) {
            return QStringLiteral("chunk count of track %1 differs").arg(t);
        }
        for (qsizetype c = 0; c < (*a)[t].size(); ++c) {
            const Chunk& x = (*a)[t][c];
            const Chunk& y = (*b)[t][c];
            if (x.length != y.length || x.offset + quint64(x.length) > quint64(before.size()) ||
                y.offset + quint64(y.length) > quint64(after.size()) ||
                std::memcmp(before.constData() + x.offset, after.constData() + y.offset, size_t(x.length)) !=
                    0) {
                return QStringLiteral("track %1 chunk %2 differs (offset %3 -> %4)")
                    .arg(t)
                    .arg(c)
                    .arg(x.offset)
                    .arg(y.offset);
            }
            compared += x.length;
        }
    }
    return compared > 0 ? QString() : QStringLiteral("no chunk bytes compared");
}

QMap<QString, QStringList> taglibItems(const QString& path) {
    QMap<QString, QStringList> out;
    TagLib::MP4::File file(QFile::encodeName(path).constData());
    if (!file.isValid() || !file.tag()) {
        return out;
    }
    for (const auto& [key, item] : file.tag()->itemMap()) {
        QStringList values;
        for (const auto& value : item.toStringList()) {
            values.append(QString::fromStdString(value.to8Bit(true)));
        }
        out.insert(QString::fromStdString(key.to8Bit(true)), values);
    }
    return out;
}

QStringList id3v1GenreNames() {
    QStringList names;
    const TagLib::StringList all = TagLib::ID3v1::genreList();
    for (unsigned i = 0; i < 80 && i < all.size(); ++i) {
        names.append(QString::fromStdString(all[i].to8Bit(true)));
    }
    return names;
}

} // namespace Mp4Check
