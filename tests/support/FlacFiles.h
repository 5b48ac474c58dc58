#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// FLAC files seen independently of the production parser: a plain walk of
// the metadata blocks, image building and the reference decoder's check.
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

// An image from blocks as given (flags included) and raw audio bytes.
QByteArray image(const QList<Block>& blocks, const QByteArray& audio);
// A STREAMINFO body with the given sample rate and total samples.
QByteArray streamInfo(uint32_t sampleRate, uint64_t totalSamples);
// Runs `flac -t`: empty when it passes, else the decoder's output.
QString flacTestErrors(const QString& path);

} // namespace FlacFiles
