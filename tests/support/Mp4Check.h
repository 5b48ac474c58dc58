#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// An independent check of MP4 files: a small strict parser of the atoms and
// the sample tables.
namespace Mp4Check {

// One chunk of one track: where the chunk offset table puts it, and its
// length from the sample-size and sample-to-chunk tables.
struct Chunk {
    quint64 offset = 0;
    qint64 length = 0;
};
// The chunks of every track, in track order; no value when a table cannot be read strictly.
std::optional<QList<QList<Chunk>>> chunks(const QByteArray& file);
// Empty when every chunk of `after` holds exactly the bytes of the same chunk
// of `before`; otherwise the first difference.
QString compareChunks(const QByteArray& before, const QByteArray& after);

struct TopAtom {
    QByteArray type;
    qint64 start = 0;
    qint64 length = 0;
};
QList<TopAtom> topLevel(const QByteArray& file);
// The payload of the first atom along `path` (e.g. {"moov","udta","meta"}).
std::optional<QByteArray> atomPayload(const QByteArray& file, const QList<QByteArray>& path);

} // namespace Mp4Check
