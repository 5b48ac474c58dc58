#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// Independent checks of MP4 files for the handler tests: a small strict
// parser of the sample tables and the outside tools' view of a file.
namespace Mp4Check {

// One chunk of one track: where the chunk offset table says it is, and its
// length from the sample-size and sample-to-chunk tables.
struct Chunk {
    quint64 offset = 0;
    qint64 length = 0;
};

// The chunks of every track (moov/trak/mdia/minf/stbl), in track order; no
// value when the file's tables cannot be read strictly.
std::optional<QList<QList<Chunk>>> chunks(const QByteArray& file);

// Empty when every chunk of `after` holds exactly the bytes of the same chunk
// of `before`; otherwise a description of the first difference.
QString compareChunks(const QByteArray& before, const QByteArray& after);

// Byte ranges of the top-level atoms ("type@start+length" each), for messages and layout checks.
struct TopAtom {
    QByteArray type;
    qint64 start = 0;
    qint64 length = 0;
};
QList<TopAtom> topLevel(const QByteArray& file);
// The payload of the first atom found along `path` (e.g. {"moov","udta","meta"}), with the
// meta version/flags as part of the payload. No value when there is none.
std::optional<QByteArray> atomPayload(const QByteArray& file, const QList<QByteArray>& path);
// The item types of moov/udta/meta/ilst in order.
QList<QByteArray> itemTypes(const QByteArray& file);

// The text items TagLib reads (keys such as "\251gen").
QMap<QString, QStringList> taglibItems(const QString& path);

// The first 80 ID3v1 genre names as TagLib knows them.
QStringList id3v1GenreNames();

} // namespace Mp4Check
