#include "TagProbe.h"

#include "TestFiles.h"
#include "tagio/FLACHandler.h"
#include "tagio/GenreNames.h"
#include "tagio/ID3v2Handler.h"
#include "tagio/MP4Handler.h"

#include <QDir>
#include <QFile>

#include <aifffile.h>
#include <flacfile.h>
#include <mp4file.h>
#include <mpegfile.h>
#include <tag.h>
#include <wavfile.h>

#include <memory>
#include <stdexcept>

namespace TagProbe {

namespace {

QString fromTagLib(const TagLib::String& text) {
    return QString::fromStdString(text.to8Bit(true));
}

std::unique_ptr<TagLib::File> openWithTagLib(const QString& path, AudioFormat format) {
    const QByteArray native = QFile::encodeName(path);
    switch (format) {
    case AudioFormat::mp3:
        return std::make_unique<TagLib::MPEG::File>(native.constData());
    case AudioFormat::flac:
        return std::make_unique<TagLib::FLAC::File>(native.constData());
    case AudioFormat::m4a:
    case AudioFormat::aac:
        return std::make_unique<TagLib::MP4::File>(native.constData());
    case AudioFormat::aiff:
    case AudioFormat::aif:
        return std::make_unique<TagLib::RIFF::AIFF::File>(native.constData());
    case AudioFormat::wav:
        return std::make_unique<TagLib::RIFF::WAV::File>(native.constData());
    default:
        break;
    }
    throw std::runtime_error("no TagLib class for " + rawValue(format).toStdString());
}

} // namespace

Tags viaTagLib(const QString& path, AudioFormat format) {
    const std::unique_ptr<TagLib::File> file = openWithTagLib(path, format);
    if (!file->isValid() || file->tag() == nullptr) {
        throw std::runtime_error("TagLib cannot read " + path.toStdString());
    }
    const TagLib::Tag* tag = file->tag();
    Tags tags;
    tags.genre = fromTagLib(tag->genre());
    if (tag->year() != 0) {
        tags.year = static_cast<int>(tag->year());
    }
    tags.title = fromTagLib(tag->title());
    tags.artist = fromTagLib(tag->artist());
    return tags;
}

QByteArray audioPayload(const QString& path, AudioFormat format) {
    const QByteArray bytes = TestFiles::readFile(path);
    switch (format) {
    case AudioFormat::flac: {
        const QList<FLACHandler::MetadataBlock> blocks = FLACHandler::parseMetadataBlocks(bytes, path);
        if (blocks.isEmpty()) {
            throw std::runtime_error("no FLAC metadata in " + path.toStdString());
        }
        const FLACHandler::MetadataBlock& last = blocks.last();
        return bytes.mid(last.headerOffset + 4 + last.data.size());
    }
    case AudioFormat::m4a:
    case AudioFormat::aac:
        for (const MP4Handler::Atom& atom : MP4Handler::parseAtoms(bytes, 0, bytes.size())) {
            if (atom.type == QLatin1String("mdat")) {
                return bytes.mid(atom.payloadStart(), atom.end - atom.payloadStart());
            }
        }
        throw std::runtime_error("no mdat in " + path.toStdString());
    case AudioFormat::mp3: {
        const std::optional<ID3v2Handler::Range> tag = ID3v2Handler::locateTag(bytes, path);
        return tag ? bytes.mid(tag->end) : bytes;
    }
    case AudioFormat::aiff:
    case AudioFormat::aif:
    case AudioFormat::wav: {
        // Leave out the container size (bytes 4..7) and the ID3 chunk with its header and pad byte.
        QByteArray out = bytes.left(4) + bytes.mid(8);
        const std::optional<ID3v2Handler::Range> chunk = ID3v2Handler::locateTag(bytes, path);
        if (chunk) {
            const qint64 start = chunk->start - 8;
            const qint64 end = chunk->end + (chunk->length() % 2);
            out = bytes.left(4) + bytes.mid(8, start - 8) + bytes.mid(end);
        }
        return out;
    }
    default:
        break;
    }
    throw std::runtime_error("no payload rule for " + rawValue(format).toStdString());
}

QStringList temporaryFiles(const QString& folder) {
    QStringList out;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (name.startsWith(QLatin1Char('.')) && name.contains(QLatin1String(".tmp-"))) {
            out.append(name);
        }
    }
    return out;
}

} // namespace TagProbe
