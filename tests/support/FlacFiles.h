#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// Test-side view of FLAC files, independent of the production parser: a plain
// walk of the metadata blocks, the audio frames, the reference decoder's check
// and TagLib's reading of the comments.
namespace FlacFiles {

struct Block {
    int type = 0;
    bool isLast = false;
    QByteArray body;
    bool operator==(const Block&) const = default;
};

struct Layout {
    QList<Block> blocks;
    qint64 audioStart = -1; // -1 when the metadata is malformed
};

Layout layout(const QByteArray& image);

// The audio frames: everything after the block with the last flag (empty when malformed).
QByteArray audioFrames(const QByteArray& image);

// An image from blocks as given (flags included) and raw audio bytes.
QByteArray image(const QList<Block>& blocks, const QByteArray& audio);

// A STREAMINFO body (34 bytes) with the given sample rate and total samples.
QByteArray streamInfo(uint32_t sampleRate, uint64_t totalSamples);

// Runs `flac -t` on the file; empty when it passes, else the decoder's output.
QString flacTestErrors(const QString& path);

// The Vorbis comment fields as TagLib reads them (keys upper-case, in order),
// plus the number of pictures under the key "#PICTURES".
QMap<QString, QStringList> taglibFields(const QString& path);

} // namespace FlacFiles
