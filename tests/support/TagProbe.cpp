#include "TagProbe.h"

#include "TestFiles.h"
#include "tagio/Bytes.h"
#include "tagio/flac/FLACHandler.h"
#include "tagio/id3/ID3v2Handler.h"
#include "tagio/mp4/MP4Handler.h"

#include <QDir>
#include <QFile>

#include <aifffile.h>
#include <attachedpictureframe.h>
#include <flacfile.h>
#include <id3v2tag.h>
#include <mp4file.h>
#include <mpegfile.h>
#include <tag.h>
#include <textidentificationframe.h>
#include <tpropertymap.h>
#include <wavfile.h>

#include <memory>
#include <stdexcept>

namespace TagProbe {

namespace {

QString fromTagLib(const TagLib::String& text) {
    return QString::fromStdString(text.to8Bit(true));
}

QByteArray bytes(const TagLib::ByteVector& v) {
    return QByteArray(v.data(), qsizetype(v.size()));
}

std::unique_ptr<TagLib::File> open(const QString& path, AudioFormat format) {
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
        throw std::runtime_error("no TagLib class for " + rawValue(format).toStdString());
    }
}

} // namespace

Tags viaTagLib(const QString& path, AudioFormat format) {
    const std::unique_ptr<TagLib::File> file = open(path, format);
    if (!file->isValid() || file->tag() == nullptr) {
        throw std::runtime_error("TagLib cannot read " + path.toStdString());
    }
    const TagLib::Tag* tag = file->tag();
    return Tags{fromTagLib(tag->genre()), tag->year() ? std::optional<int>(int(tag->year())) : std::nullopt,
                fromTagLib(tag->title()), fromTagLib(tag->artist())};
}

QMap<QString, QStringList> properties(const QString& path, AudioFormat format) {
    QMap<QString, QStringList> out;
    const std::unique_ptr<TagLib::File> file = open(path, format);
    if (!file->isValid()) {
        return out;
    }
    for (const auto& [key, values] : file->properties()) {
        for (const auto& value : values) {
            out[fromTagLib(key)].append(fromTagLib(value));
        }
    }
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file.get())) {
        for (const auto* picture : flac->pictureList()) {
            out[QStringLiteral("#PICTURES")].append(QString::fromLatin1(bytes(picture->data()).toHex()));
        }
    } else if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file.get()); mpeg && mpeg->hasID3v2Tag()) {
        for (const auto* frame : mpeg->ID3v2Tag()->frameListMap()["APIC"]) {
            const auto* picture = static_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame);
            out[QStringLiteral("#PICTURES")].append(QString::fromLatin1(bytes(picture->picture()).toHex()));
        }
    }
    return out;
}

QList<QPair<QByteArray, QByteArray>> id3Frames(const QString& path) {
    const std::unique_ptr<TagLib::File> file = open(path, audioFormatForPath(path));
    TagLib::ID3v2::Tag* tag = nullptr;
    if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file.get())) {
        tag = aiff->hasID3v2Tag() ? aiff->tag() : nullptr;
    } else if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file.get())) {
        tag = wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr;
    } else if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file.get())) {
        tag = mpeg->hasID3v2Tag() ? mpeg->ID3v2Tag() : nullptr;
    }
    QList<QPair<QByteArray, QByteArray>> out;
    for (const auto* frame : tag ? tag->frameList() : TagLib::ID3v2::FrameList()) {
        // TagLib renders text in a v2.3 tag as UTF-16: text frames compare by their fields.
        if (const auto* text = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(frame)) {
            QByteArray fields;
            for (const auto& field : text->fieldList()) {
                fields += QByteArray(field.toCString(true)) + '\0';
            }
            out.append({bytes(frame->frameID()), fields});
        } else {
            out.append({bytes(frame->frameID()), bytes(frame->render()).mid(10)});
        }
    }
    return out;
}

QByteArray audioPayload(const QString& path, AudioFormat format) {
    const QByteArray bytes = TestFiles::readFile(path);
    switch (format) {
    case AudioFormat::flac: {
        const QList<FLACHandler::MetadataBlock> blocks = FLACHandler::parseMetadataBlocks(bytes, path);
        if (blocks.isEmpty()) {
            throw std::runtime_error("no FLAC metadata in " + path.toStdString());
        }
        return bytes.mid(blocks.last().headerOffset + 4 + blocks.last().data.size());
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
    default: {
        // AIFF and WAV: the kind and every chunk but the ID3 chunk, without sizes and pad bytes.
        const bool little = bytes.startsWith("RIFF");
        QByteArray out = bytes.mid(8, 4);
        for (qint64 at = 12; at + 8 <= bytes.size();) {
            const qint64 size = little ? Bytes::u32LE(bytes, at + 4) : Bytes::u32BE(bytes, at + 4);
            if (bytes.mid(at, 3).toUpper() != "ID3") {
                out += bytes.mid(at, 4) + bytes.mid(at + 8, size);
            }
            at += 8 + size + size % 2;
        }
        return out;
    }
    }
}

QStringList temporaryFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral(".*.tmp-*")}, QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace TagProbe
