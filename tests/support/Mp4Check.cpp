#include "Mp4Check.h"

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
    for (int i = 0; i < width && at + i < b.size(); ++i) {
        v = (v << 8) | quint8(b[at + i]);
    }
    return v;
}

// Strict: every box fits its range exactly, else no value (a top-level tail
// shorter than a header is allowed).
std::optional<QList<Box>> boxes(const QByteArray& b, qint64 start, qint64 end) {
    QList<Box> out;
    for (qint64 o = start; o < end;) {
        if (end - o < 8) {
            return start == 0 && end == b.size() ? std::optional(out) : std::nullopt;
        }
        quint64 size = be(b, o, 4);
        const qint64 header = size == 1 ? 16 : 8;
        size = size == 1 ? be(b, o + 8, 8) : size == 0 ? quint64(end - o) : size;
        if (size < quint64(header) || size > quint64(end - o)) {
            return std::nullopt;
        }
        out.append(Box{b.mid(o + 4, 4), o, o + header, o + qint64(size)});
        o += qint64(size);
    }
    return out;
}

std::optional<Box> child(const QByteArray& b, const Box& parent, const QByteArray& type) {
    const auto list = boxes(b, parent.payload + (parent.type == "meta" ? 4 : 0), parent.end);
    for (const Box& c : list.value_or(QList<Box>())) {
        if (c.type == type) {
            return c;
        }
    }
    return std::nullopt;
}

} // namespace

QList<TopAtom> topLevel(const QByteArray& file) {
    QList<TopAtom> out;
    for (const Box& box : boxes(file, 0, file.size()).value_or(QList<Box>())) {
        out.append(TopAtom{box.type, box.start, box.end - box.start});
    }
    return out;
}

std::optional<QByteArray> atomPayload(const QByteArray& file, const QList<QByteArray>& path) {
    std::optional<Box> current = Box{QByteArray(), 0, 0, file.size()};
    for (const QByteArray& type : path) {
        if (!(current = child(file, *current, type))) {
            return std::nullopt;
        }
    }
    return file.mid(current->payload, current->end - current->payload);
}

std::optional<QList<QList<Chunk>>> chunks(const QByteArray& file) {
    const auto top = boxes(file, 0, file.size());
    if (!top) {
        return std::nullopt;
    }
    QList<QList<Chunk>> tracks;
    for (const Box& moov : *top) {
        const auto traks = moov.type == "moov" ? boxes(file, moov.payload, moov.end) : QList<Box>();
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
            const auto stco = stbl ? child(file, *stbl, "stco") : std::nullopt;
            const auto co = stco ? stco : stbl ? child(file, *stbl, "co64") : std::nullopt;
            const auto stsz = stbl ? child(file, *stbl, "stsz") : std::nullopt;
            const auto stsc = stbl ? child(file, *stbl, "stsc") : std::nullopt;
            if (!co || !stsz || !stsc) {
                return std::nullopt;
            }
            const qint64 fixedSize = qint64(be(file, stsz->payload + 4, 4));
            const qint64 sampleCount = qint64(be(file, stsz->payload + 8, 4));
            const qint64 runs = qint64(be(file, stsc->payload + 4, 4));
            QList<Chunk> list;
            qint64 sample = 0;
            for (qint64 c = 0; c < qint64(be(file, co->payload + 4, 4)); ++c) {
                qint64 perChunk = 0;
                for (qint64 r = 0; r < runs; ++r) {
                    if (qint64(be(file, stsc->payload + 8 + 12 * r, 4)) <= c + 1) {
                        perChunk = qint64(be(file, stsc->payload + 12 + 12 * r, 4));
                    }
                }
                Chunk chunk{stco ? be(file, co->payload + 8 + 4 * c, 4) : be(file, co->payload + 8 + 8 * c, 8), 0};
                for (qint64 s = 0; s < perChunk && sample < sampleCount; ++s, ++sample) {
                    chunk.length += fixedSize ? fixedSize : qint64(be(file, stsz->payload + 12 + 4 * sample, 4));
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
    if (!a || !b || a->size() != b->size()) {
        return QStringLiteral("sample tables unreadable or track count differs");
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
                std::memcmp(before.constData() + x.offset, after.constData() + y.offset, size_t(x.length))) {
                return QStringLiteral("track %1 chunk %2 differs (offset %3 -> %4)").arg(t).arg(c).arg(x.offset).arg(y.offset);
            }
            compared += x.length;
        }
    }
    return compared > 0 ? QString() : QStringLiteral("no chunk bytes compared");
}

} // namespace Mp4Check
