#include "FlacFiles.h"

#include "tagio/Bytes.h"

#include <QFile>
#include <QProcess>

#include <taglib/flacfile.h>
#include <taglib/xiphcomment.h>

namespace FlacFiles {

Layout layout(const QByteArray& image) {
    Layout result;
    if (!image.startsWith("fLaC")) {
        return result;
    }
    qint64 pos = 4;
    while (Bytes::fits(image.size(), pos, 4)) {
        Block block;
        block.isLast = (Bytes::u8(image, pos) & 0x80) != 0;
        block.type = Bytes::u8(image, pos) & 0x7F;
        const qint64 length = Bytes::u24BE(image, pos + 1);
        if (!Bytes::fits(image.size(), pos + 4, length)) {
            return Layout{result.blocks, -1};
        }
        block.body = image.mid(pos + 4, length);
        result.blocks.append(block);
        pos += 4 + length;
        if (block.isLast) {
            result.audioStart = pos;
            return result;
        }
    }
    return result;
}

QByteArray audioFrames(const QByteArray& image) {
    const Layout l = layout(image);
    return l.audioStart < 0 ? QByteArray() : image.mid(l.audioStart);
}

QByteArray image(const QList<Block>& blocks, const QByteArray& audio) {
    QByteArray out("fLaC");
    for (const Block& block : blocks) {
        out.append(char((block.type & 0x7F) | (block.isLast ? 0x80 : 0)));
        Bytes::appendU24BE(out, uint32_t(block.body.size()));
        out.append(block.body);
    }
    out.append(audio);
    return out;
}

QByteArray streamInfo(uint32_t sampleRate, uint64_t totalSamples) {
    QByteArray body;
    Bytes::appendU16BE(body, 4096);
    Bytes::appendU16BE(body, 4096);
    Bytes::appendU24BE(body, 0);
    Bytes::appendU24BE(body, 0);
    // sample rate (20 bits), 2 channels (1), 16 bits (15), total samples (36)
    const uint64_t packed = (uint64_t(sampleRate & 0xFFFFF) << 44) | (uint64_t(1) << 41) |
                            (uint64_t(15) << 36) | (totalSamples & 0xFFFFFFFFFull);
    Bytes::appendU64BE(body, packed);
    body.append(QByteArray(16, '\0'));
    return body;
}

QString flacTestErrors(const QString& path) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("flac"), {QStringLiteral("-t"), QStringLiteral("-s"), path});
    if (!process.waitForFinished(60000)) {
        return QStringLiteral("flac -t did not run: ") + process.errorString();
    }
    const QString output = QString::fromLocal8Bit(process.readAll());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return output.isEmpty() ? QStringLiteral("flac -t failed") : output;
    }
    return {};
}

QMap<QString, QStringList> taglibFields(const QString& path) {
    QMap<QString, QStringList> fields;
    TagLib::FLAC::File file(QFile::encodeName(path).constData(), false);
    if (!file.isValid()) {
        return fields;
    }
    if (TagLib::Ogg::XiphComment* comment = file.xiphComment(false)) {
        for (const auto& [key, values] : comment->fieldListMap()) {
            QStringList list;
            for (const auto& value : values) {
                list.append(QString::fromStdString(value.to8Bit(true)));
            }
            fields.insert(QString::fromStdString(key.to8Bit(true)), list);
        }
    }
    fields.insert(QStringLiteral("#PICTURES"), {QString::number(file.pictureList().size())});
    return fields;
}

} // namespace FlacFiles
