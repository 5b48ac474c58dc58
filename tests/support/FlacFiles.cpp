#include "FlacFiles.h"

#include "tagio/Bytes.h"

#include <QProcess>

namespace FlacFiles {

Layout layout(const QByteArray& image) {
    Layout result;
    qint64 pos = 4;
    while (image.startsWith("fLaC") && Bytes::fits(image.size(), pos, 4)) {
        const Block block{Bytes::u8(image, pos) & 0x7F, (Bytes::u8(image, pos) & 0x80) != 0,
                          image.mid(pos + 4, Bytes::u24BE(image, pos + 1))};
        if (!Bytes::fits(image.size(), pos + 4, Bytes::u24BE(image, pos + 1))) {
            return Layout{result.blocks, -1};
        }
        result.blocks.append(block);
        pos += 4 + block.body.size();
        if (block.isLast) {
            result.audioStart = pos;
            break;
        }
    }
    return result;
}

QByteArray image(const QList<Block>& blocks, const QByteArray& audio) {
    QByteArray out("fLaC");
    for (const Block& block : blocks) {
        out.append(char((block.type & 0x7F) | (block.isLast ? 0x80 : 0)));
        Bytes::appendU24BE(out, uint32_t(block.body.size()));
        out.append(block.body);
    }
    return out + audio;
}

QByteArray streamInfo(uint32_t sampleRate, uint64_t totalSamples) {
    QByteArray body;
    Bytes::appendU16BE(body, 4096);
    Bytes::appendU16BE(body, 4096);
    Bytes::appendU24BE(body, 0);
    Bytes::appendU24BE(body, 0);
    // sample rate (20 bits), 2 channels, 16 bits per sample, total samples (36 bits)
    Bytes::appendU64BE(body, (uint64_t(sampleRate & 0xFFFFF) << 44) | (uint64_t(1) << 41) |
                                 (uint64_t(15) << 36) | (totalSamples & 0xFFFFFFFFFull));
    return body + QByteArray(16, '\0');
}

QString flacTestErrors(const QString& path) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("flac"), {QStringLiteral("-t"), QStringLiteral("-s"), path});
    if (!process.waitForFinished(60000)) {
        return QStringLiteral("flac -t did not run: ") + process.errorString();
    }
    const QString output = QString::fromLocal8Bit(process.readAll());
    const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ok ? QString() : output.isEmpty() ? QStringLiteral("flac -t failed") : output;
}

} // namespace FlacFiles
