#include "tagio/MediaAsset.h"

#include "model/AppError.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/id3/ID3v2Handler.h"
#include "tagio/MediaAssetParts.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <taglib/aifffile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/commentsframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tiostream.h>
#include <taglib/tpropertymap.h>
#include <taglib/urllinkframe.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <climits>
#include <cmath>

const QString MediaAsset::keySpaceID3 = QStringLiteral("id3");
const QString MediaAsset::keySpaceiTunes = QStringLiteral("itunes");
const QString MediaAsset::keySpaceISOUserData = QStringLiteral("userdata");
const QString MediaAsset::keySpaceVorbis = QStringLiteral("vorbis");
const QString MediaAsset::keySpaceASF = QStringLiteral("asf");
const QString MediaAsset::keySpaceID3v1 = QStringLiteral("id3v1");
const QString MediaAsset::keySpaceAPE = QStringLiteral("ape");
const QString MediaAsset::keySpaceRIFFInfo = QStringLiteral("riffinfo");
const QString MediaAsset::keySpaceOther = QStringLiteral("other");

const QString MediaAsset::commonKeyTitle = QStringLiteral("title");
const QString MediaAsset::commonKeyArtist = QStringLiteral("artist");
const QString MediaAsset::commonKeyAlbumName = QStringLiteral("albumName");
const QString MediaAsset::commonKeyCreationDate = QStringLiteral("creationDate");
const QString MediaAsset::commonKeyType = QStringLiteral("type");

namespace {

using Item = MediaAsset::Item;
using media::commonKeyForProperty;
using media::id3CommonKey;
using media::kValueSeparator;
using media::makeItem;
using media::mp4CommonKey;

QString qs(const TagLib::String& s) {
    return QString::fromWCharArray(s.toCWString(), qsizetype(s.size()));
}

QString genreFieldText(const TagLib::StringList& fields) {
    QStringList texts;
    for (const auto& f : fields) {
        texts.append(QString::fromStdWString(f.toWString()));
    }
    return media::genreFieldText(texts);
}

QString joined(const TagLib::StringList& list) {
    QStringList parts;
    for (const auto& s : list) {
        parts.append(qs(s));
    }
    return parts.join(QLatin1String(kValueSeparator));
}

// --- ID3v2 ------------------------------------------------------------------

void appendID3v2(QList<Item>& items, const TagLib::ID3v2::Tag* tag) {
    if (!tag) {
        return;
    }
    for (const TagLib::ID3v2::Frame* frame : tag->frameList()) {
        const QString id = QString::fromLatin1(frame->frameID().data(), int(frame->frameID().size()));
        std::optional<QString> value;
        if (const auto* user = dynamic_cast<const TagLib::ID3v2::UserTextIdentificationFrame*>(frame)) {
            TagLib::StringList fields = user->fieldList();
            if (!fields.isEmpty()) {
                fields.erase(fields.begin()); // the description
            }
            value = joined(fields);
        } else if (const auto* text = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(frame)) {
            value =
                id == QLatin1String("TCON") ? genreFieldText(text->fieldList()) : joined(text->fieldList());
        } else if (const auto* comment = dynamic_cast<const TagLib::ID3v2::CommentsFrame*>(frame)) {
            value = qs(comment->text());
        } else if (const auto* url = dynamic_cast<const TagLib::ID3v2::UrlLinkFrame*>(frame)) {
            value = qs(url->url());
        }
        items.append(makeItem(MediaAsset::keySpaceID3, id, id3CommonKey(id), value));
    }
}

// --- MP4 item list -----------------------------------------------------------

// TagLib keeps numeric items in a union; only the member that matches the
// item's kind may be read, so the kind is taken from the key.
std::optional<qint64> mp4Number(const QString& key, const TagLib::MP4::Item& item) {
    static const QSet<QString> pairs = {QStringLiteral("trkn"), QStringLiteral("disk")};
    static const QSet<QString> ints = {QStringLiteral("tmpo"), QStringLiteral("\u00A9mvi"),
                                       QStringLiteral("\u00A9mvc")};
    static const QSet<QString> bools = {QStringLiteral("cpil"), QStringLiteral("pgap"),
                                        QStringLiteral("pcst"), QStringLiteral("hdvd"),
                                        QStringLiteral("shwm")};
    static const QSet<QString> uints = {
        QStringLiteral("tvsn"), QStringLiteral("tves"), QStringLiteral("cnID"), QStringLiteral("sfID"),
        QStringLiteral("atID"), QStringLiteral("geID"), QStringLiteral("cmID")};
    static const QSet<QString> bytes = {QStringLiteral("stik"), QStringLiteral("rtng"),
                                        QStringLiteral("akID")};
    if (pairs.contains(key)) {
        return item.toIntPair().first;
    }
    if (ints.contains(key)) {
        return item.toInt();
    }
    if (bools.contains(key)) {
        return item.toBool() ? 1 : 0;
    }
    if (uints.contains(key)) {
        return item.toUInt();
    }
    if (bytes.contains(key)) {
        return item.toByte();
    }
    if (key == QLatin1String("plID")) {
        return item.toLongLong();
    }
    return std::nullopt;
}

void appendMP4(QList<Item>& items, const TagLib::MP4::Tag* tag) {
    if (!tag) {
        return;
    }
    // Note: TagLib turns a numeric "gnre" item into a "©gen" text item named
    // from its own ID3v1 list while it parses the file.
    for (const auto& [name, item] : tag->itemMap()) {
        const QString key = qs(name);
        const TagLib::StringList strings = item.toStringList();
        std::optional<QString> value;
        std::optional<qint64> number;
        if (!strings.isEmpty()) {
            value = joined(strings);
        } else {
            number = mp4Number(key, item);
        }
        items.append(makeItem(MediaAsset::keySpaceiTunes, key, mp4CommonKey(key), value, number));
    }
}

// --- Vorbis comments, APE, INFO: tags keyed by field name -----------------------

void appendXiph(QList<Item>& items, const TagLib::Ogg::XiphComment* tag) {
    if (!tag) {
        return;
    }
    for (const auto& [name, values] : tag->fieldListMap()) {
        const QString key = qs(name);
        for (const auto& v : values) {
            items.append(makeItem(MediaAsset::keySpaceVorbis, key, commonKeyForProperty(key), qs(v)));
        }
    }
}

// Any tag through TagLib's unified property names, one item per value.
void appendProperties(QList<Item>& items, const QString& keySpace, const TagLib::PropertyMap& properties) {
    for (const auto& [name, values] : properties) {
        const QString key = qs(name);
        for (const auto& v : values) {
            items.append(makeItem(keySpace, key, commonKeyForProperty(key), qs(v)));
        }
    }
}

void appendID3v1(QList<Item>& items, const TagLib::ID3v1::Tag* tag) {
    if (!tag || tag->isEmpty()) {
        return;
    }
    auto add = [&](const char* key, const QString& common, const QString& value) {
        if (!value.isEmpty()) {
            items.append(makeItem(MediaAsset::keySpaceID3v1, QLatin1String(key), common, value));
        }
    };
    add("TITLE", MediaAsset::commonKeyTitle, qs(tag->title()));
    add("ARTIST", MediaAsset::commonKeyArtist, qs(tag->artist()));
    add("ALBUM", MediaAsset::commonKeyAlbumName, qs(tag->album()));
    if (tag->year() > 0) {
        add("DATE", MediaAsset::commonKeyCreationDate, QString::number(tag->year()));
    }
    // The genre number, named by the genre resolution from our own list.
    if (tag->genreNumber() < 255) {
        add("GENRE", MediaAsset::commonKeyType, QStringLiteral("(%1)").arg(tag->genreNumber()));
    }
}

// --- ASF (WMA) ---------------------------------------------------------------

std::optional<QString> asfCommonKey(const QString& name) {
    static const QHash<QString, QString> map = {
        {QStringLiteral("Title"), MediaAsset::commonKeyTitle},
        {QStringLiteral("Author"), MediaAsset::commonKeyArtist},
        {QStringLiteral("WM/AlbumTitle"), MediaAsset::commonKeyAlbumName},
        {QStringLiteral("WM/Year"), MediaAsset::commonKeyCreationDate},
        {QStringLiteral("WM/Genre"), MediaAsset::commonKeyType},
    };
    const auto it = map.find(name);
    return it == map.end() ? std::nullopt : std::optional<QString>(*it);
}

void appendASF(QList<Item>& items, const TagLib::ASF::Tag* tag) {
    if (!tag) {
        return;
    }
    // The two core fields of the content description object.
    const QString title = qs(tag->title());
    const QString author = qs(tag->artist());
    if (!title.isEmpty()) {
        items.append(
            makeItem(MediaAsset::keySpaceASF, QStringLiteral("Title"), MediaAsset::commonKeyTitle, title));
    }
    if (!author.isEmpty()) {
        items.append(
            makeItem(MediaAsset::keySpaceASF, QStringLiteral("Author"), MediaAsset::commonKeyArtist, author));
    }
    for (const auto& [name, attributes] : tag->attributeListMap()) {
        const QString key = qs(name);
        for (const auto& a : attributes) {
            std::optional<QString> value;
            std::optional<qint64> number;
            switch (a.type()) {
            case TagLib::ASF::Attribute::UnicodeType:
                value = qs(a.toString());
                break;
            case TagLib::ASF::Attribute::BoolType:
                number = a.toBool() ? 1 : 0;
                break;
            case TagLib::ASF::Attribute::DWordType:
                number = a.toUInt();
                break;
            case TagLib::ASF::Attribute::QWordType:
                number = qint64(a.toULongLong() & 0x7FFFFFFFFFFFFFFFULL);
                break;
            case TagLib::ASF::Attribute::WordType:
                number = a.toUShort();
                break;
            default:
                break;
            }
            items.append(makeItem(MediaAsset::keySpaceASF, key, asfCommonKey(key), value, number));
        }
    }
}

// --- Raw AAC (ADTS) ----------------------------------------------------------

// TagLib has no reader for raw AAC streams. Such a file may carry an ID3v2 tag
// in front; its duration is estimated from the ADTS frame headers of a bounded
// window at the start of the stream (exact when the whole stream fits).
struct AdtsStream {
    qint64 start = 0; // of the first frame, after the tag
    double duration = 0.0;
};

std::optional<AdtsStream> probeAdts(media::Window& in) {
    qint64 start = 0;
    const QByteArray head = in.readAtMost(0, 10);
    if (head.size() == 10 && head.startsWith("ID3")) {
        const auto* b = reinterpret_cast<const unsigned char*>(head.constData());
        const qint64 size = (qint64(b[6] & 0x7F) << 21) | (qint64(b[7] & 0x7F) << 14) |
                            (qint64(b[8] & 0x7F) << 7) | qint64(b[9] & 0x7F);
        const bool footer = (b[5] & 0x10) != 0;
        start = 10 + size + (footer ? 10 : 0);
    }
    if (start >= in.size()) {
        return std::nullopt;
    }
    static const int sampleRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                      22050, 16000, 12000, 11025, 8000,  7350};
    const qint64 window = 256 * 1024;
    const QByteArray data = in.readAtMost(start, window);
    const qint64 n = data.size();
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData());
    qint64 off = 0;
    qint64 frames = 0;
    qint64 samples = 0;
    int sampleRate = 0;
    while (n - off >= 7) {
        if (p[off] != 0xFF || (p[off + 1] & 0xF6) != 0xF0) {
            break;
        }
        const int rateIndex = (p[off + 2] >> 2) & 0x0F;
        if (rateIndex >= int(std::size(sampleRates))) {
            break;
        }
        const qint64 frameLength =
            (qint64(p[off + 3] & 0x03) << 11) | (qint64(p[off + 4]) << 3) | (p[off + 5] >> 5);
        if (frameLength < 7) {
            break;
        }
        const int blocks = (p[off + 6] & 0x03) + 1;
        sampleRate = sampleRates[rateIndex];
        samples += qint64(blocks) * 1024;
        ++frames;
        if (frameLength > n - off) {
            break;
        }
        off += frameLength;
    }
    if (frames == 0 || sampleRate == 0) {
        return std::nullopt;
    }
    const qint64 streamBytes = in.size() - start;
    AdtsStream info;
    info.start = start;
    if (off >= streamBytes || off == 0) {
        info.duration = double(samples) / sampleRate;
    } else {
        // Average frame size of the window, stretched to the whole stream.
        info.duration = double(samples) / sampleRate * (double(streamBytes) / double(off));
    }
    return info;
}

// A raw AAC stream read by our own ID3v2 parser: the tag at the start of the
// file and the duration of the ADTS frames behind it. No value unless the
// file is an ADTS stream (a file of another kind named .aac is left to
// TagLib, which finds its kind by content) and any tag in front is one we read.
std::optional<media::Parsed> readAdts(const ByteSource& source) {
    media::Window in(source);
    const std::optional<AdtsStream> adts = probeAdts(in);
    if (!adts) {
        return std::nullopt;
    }
    media::Parsed parsed;
    parsed.duration = adts->duration;
    if (adts->start > 0) {
        const std::optional<ID3v2Handler::Range> range = ID3v2Handler::parseTagHeader(source);
        std::optional<QList<Item>> items =
            range ? media::readID3v2Items(source, in, range->start, range->end) : std::nullopt;
        if (!items) {
            return std::nullopt;
        }
        parsed.items = std::move(*items);
    }
    return parsed;
}

// TagLib reads through the file we already hold open: one open per file,
// positioned reads into TagLib's own buffers (small ones served from a window,
// so that its header walks cost few system calls) instead of stdio seeks and
// reads, and the length taken when the file was opened. TagLib only reads
// here; every write is refused.
class SourceStream : public TagLib::IOStream {
public:
    explicit SourceStream(const ByteSource& source)
        : m_source(source), m_name(QFile::encodeName(source.path())) {}

    TagLib::FileName name() const override { return m_name.constData(); }
    TagLib::ByteVector readBlock(unsigned long length) override {
        const qint64 n = std::min(qint64(std::min<unsigned long>(length, LONG_MAX)),
                                  std::max<qint64>(0, m_source.size() - m_position));
        if (n <= 0) {
            return {};
        }
        const auto inWindow = [&] {
            return m_position >= m_windowStart && m_position + n <= m_windowStart + m_windowLength;
        };
        if (!inWindow() && n <= qint64(sizeof m_window) / 2) {
            m_windowStart = m_position;
            m_windowLength = std::min(qint64(sizeof m_window), m_source.size() - m_position);
            if (!m_source.readInto(m_window, m_windowStart, m_windowLength)) {
                m_windowLength = 0;
                return {};
            }
        }
        // Each result is built in place: a ByteVector allocates even when empty.
        const qint64 at = m_position;
        if (inWindow()) {
            m_position += n;
            return TagLib::ByteVector(m_window + (at - m_windowStart), unsigned(n));
        }
        TagLib::ByteVector out(unsigned(n), '\0');
        if (!m_source.readInto(out.data(), at, n)) {
            return {};
        }
        m_position += n;
        return out;
    }
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return true; }
    void seek(long offset, Position p) override {
        const qint64 base = p == Beginning ? 0 : p == Current ? m_position : m_source.size();
        if (base + offset >= 0) { // a seek before the start fails and moves nothing, as fseek
            m_position = base + offset;
        }
    }
    long tell() const override { return long(m_position); }
    long length() override { return long(m_source.size()); }
    void truncate(long) override {}

private:
    const ByteSource& m_source;
    QByteArray m_name;
    char m_window[16 * 1024];
    qint64 m_windowStart = 0;
    qint64 m_windowLength = 0;
    qint64 m_position = 0;
};

} // namespace

MediaAsset MediaAsset::fromItems(QList<Item> items, double duration) {
    MediaAsset asset;
    asset.m_metadata = std::move(items);
    for (const Item& item : std::as_const(asset.m_metadata)) {
        if (item.commonKey) {
            asset.m_common.append(item);
        }
    }
    asset.m_duration = duration;
    return asset;
}

MediaAsset MediaAsset::loadWithTagLib(const QString& path) {
    const std::optional<ByteSource> source = ByteSource::open(path);
    if (!source) {
        throw AppError::tagReadFailed(path, QStringLiteral("The file could not be opened as audio"));
    }
    return loadWithTagLib(*source);
}

MediaAsset MediaAsset::loadWithTagLib(const ByteSource& source) {
    const QString& path = source.path();
    SourceStream stream(source);
    // Fast audio properties: read from the stream headers, never by decoding
    // or walking the audio.
    TagLib::FileRef ref(&stream, true, TagLib::AudioProperties::Fast);
    QList<Item> items;

    if (ref.isNull() || !ref.file() || !ref.file()->isValid()) {
        // A raw AAC stream: its ID3v2 tag and an estimated duration.
        media::Window in(source);
        const auto adts = probeAdts(in);
        if (!adts) {
            throw AppError::tagReadFailed(path, QStringLiteral("The file could not be opened as audio"));
        }
        stream.seek(0, TagLib::IOStream::Beginning);
        TagLib::MPEG::File mpeg(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        if (mpeg.isValid()) {
            appendID3v2(items, mpeg.hasID3v2Tag() ? mpeg.ID3v2Tag() : nullptr);
        }
        return fromItems(std::move(items), adts->duration);
    }

    const TagLib::AudioProperties* properties = ref.audioProperties();
    if (!properties || properties->sampleRate() <= 0) {
        // TagLib accepts some files it finds no audio stream in (e.g. a text
        // file named .mp3); those are no audio files.
        throw AppError::tagReadFailed(path, QStringLiteral("No audio stream found in the file"));
    }

    TagLib::File* file = ref.file();
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
        appendID3v2(items, mpeg->hasID3v2Tag() ? mpeg->ID3v2Tag() : nullptr);
        if (mpeg->hasAPETag()) {
            appendProperties(items, keySpaceAPE, mpeg->APETag()->properties());
        }
        if (mpeg->hasID3v1Tag()) {
            appendID3v1(items, mpeg->ID3v1Tag());
        }
    } else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) {
        appendID3v2(items, aiff->hasID3v2Tag() ? aiff->tag() : nullptr);
    } else if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
        appendID3v2(items, wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr);
        if (wav->hasInfoTag()) {
            appendProperties(items, keySpaceRIFFInfo, wav->InfoTag()->properties());
        }
    } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
        appendMP4(items, mp4->hasMP4Tag() ? mp4->tag() : nullptr);
    } else if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file)) {
        appendASF(items, asf->tag());
    } else if (auto* xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag())) {
        appendXiph(items, xiph);
    } else {
        appendProperties(items, keySpaceOther, file->properties());
    }

    const double seconds = properties->lengthInMilliseconds() / 1000.0;
    return fromItems(std::move(items), std::isfinite(seconds) ? seconds : 0.0);
}

bool MediaAsset::readsItself(const QString& path) {
    static const QSet<QString> own = {QStringLiteral("mp3"),  QStringLiteral("wav"), QStringLiteral("aiff"),
                                      QStringLiteral("aif"),  QStringLiteral("m4a"), QStringLiteral("mp4"),
                                      QStringLiteral("flac"), QStringLiteral("aac")};
    return own.contains(QFileInfo(path).suffix().toLower());
}

MediaAsset MediaAsset::load(const QString& path) {
    const std::optional<ByteSource> source = ByteSource::open(path);
    if (!source) {
        throw AppError::tagReadFailed(path, QStringLiteral("The file could not be opened as audio"));
    }
    return load(*source);
}

MediaAsset MediaAsset::load(const ByteSource& source) {
    if (std::optional<MediaAsset> own = loadOwn(source)) {
        return *std::move(own);
    }
    return loadWithTagLib(source);
}

std::optional<MediaAsset> MediaAsset::loadOwn(const ByteSource& source) {
    const QString ext = QFileInfo(source.path()).suffix().toLower();
    std::optional<media::Parsed> parsed;
    if (ext == QLatin1String("mp3")) {
        parsed = media::readMpeg(source);
    } else if (ext == QLatin1String("wav")) {
        parsed = media::readRiff(source, false);
    } else if (ext == QLatin1String("aiff") || ext == QLatin1String("aif")) {
        parsed = media::readRiff(source, true);
    } else if (ext == QLatin1String("m4a") || ext == QLatin1String("mp4")) {
        parsed = media::readMp4(source);
    } else if (ext == QLatin1String("flac")) {
        parsed = media::readFlac(source);
    } else if (ext == QLatin1String("aac")) {
        parsed = readAdts(source);
    }
    if (!parsed) {
        return std::nullopt;
    }
    return fromItems(std::move(parsed->items), parsed->duration);
}
