#include "tagio/UniversalTagReader.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "model/DebugLogger.h"
#include "model/DecadeRule.h"
#include "model/TextUtil.h"
#include "tagio/ByteSource.h"
#include "tagio/flac/FLACHandler.h"
#include "tagio/GenreNames.h"
#include "tagio/MediaAssetParts.h"
#include "tagio/TagHandler.h"

#include <QFileInfo>

#include <cmath>
#include <functional>

namespace {

using Item = MediaAsset::Item;

QString lowerExtension(const QString& path) {
    return QFileInfo(path).suffix().toLower();
}

QString yearText(const std::optional<int>& year) {
    return year ? QString::number(*year) : QStringLiteral("nil");
}

QString okLine(const TagData& r) {
    return QStringLiteral("title='") + r.title + QStringLiteral("' artist='") + r.artist +
           QStringLiteral("' genre='") + r.genre + QStringLiteral("' year=") + yearText(r.year);
}

QList<const Item*> withCommonKey(const QList<Item>& items, const QString& key) {
    QList<const Item*> out;
    for (const Item& item : items) {
        if (item.commonKey && *item.commonKey == key) {
            out.append(&item);
        }
    }
    return out;
}

// The items of one key space whose key is one of `keys`, in the asset's order.
void appendKeyed(QList<const Item*>& out, const QList<Item>& items, const QString& space,
                 std::initializer_list<QString> keys) {
    for (const Item& item : items) {
        if (!item.keySpace || *item.keySpace != space || !item.key) {
            continue;
        }
        for (const QString& key : keys) {
            if (*item.key == key) {
                out.append(&item);
                break;
            }
        }
    }
}

} // namespace

UniversalTagReader::UniversalTagReader()
    : m_mp4Handler(id3v1GenreNames()), m_id3Genres(extendedGenreNames()) {}

TagData UniversalTagReader::readTags(const QString& path) const {
    // One open of the file serves the media items, our own handlers and
    // TagLib, which reads through it (a FLAC file's handler opens it again);
    // its failure tells a file the user may not read from a missing one.
    const std::optional<ByteSource> source = ByteSource::open(path);
    if (!source) {
        if (AppError::isAccessDenial(errno)) {
            throw AppError::accessDenied(path);
        }
        if (!QFileInfo::exists(path)) {
            throw AppError::fileNotFound(path);
        }
        if (!QFileInfo(path).isFile()) {
            // A FIFO or device at the path.
            throw AppError::tagReadFailed(path, QStringLiteral("Not a regular file"));
        }
        throw AppError::tagReadFailed(path, QStringLiteral("The file could not be opened as audio"));
    }
    DebugLogger& logger = DebugLogger::shared();
    if (logger.isEnabled()) {
        logger.log(QStringLiteral("READ: ") + QFileInfo(path).fileName(), LogCategory::file);
    }
    if (lowerExtension(path) == QLatin1String("flac")) {
        return readFlac(path, QFileInfo(path).fileName());
    }
    return readMedia(*source);
}

TagData UniversalTagReader::readFlac(const QString& path, const QString& fileName) const {
    const auto failed = [&](const QString& description) {
        DebugLogger::shared().log(QStringLiteral("READ FAILED (FLAC-binary): ") + fileName +
                                      QStringLiteral(" \u2014 ") + description,
                                  LogCategory::error);
    };
    TagData record;
    try {
        record = FLACHandler::readTags(path);
    } catch (const AppError& e) {
        // Already names the file and the failure: wrapped again it would say both twice.
        failed(e.errorDescription());
        throw;
    } catch (const std::exception& e) {
        const QString text = QString::fromUtf8(e.what());
        failed(text);
        throw AppError::tagReadFailed(path, text);
    }
    repairArtistTitle(record, path);
    DebugLogger& logger = DebugLogger::shared();
    if (logger.isEnabled()) {
        logger.log(QStringLiteral("READ OK (FLAC-binary): ") + okLine(record), LogCategory::file);
    }
    return record;
}

TagData UniversalTagReader::readMedia(const ByteSource& source) const {
    const QString& path = source.path();
    const QString ext = lowerExtension(path);
    std::optional<MediaAsset> loaded;
    std::optional<DirectTags> direct;
    try {
        // One walk of the tag or item list gives the items and what our
        // handler's year and genre reads give.
        media::DirectFrames frames;
        std::optional<media::Parsed> parsed;
        if (ext == QLatin1String("mp3")) {
            parsed = media::readMpeg(source, &frames);
        } else if (ext == QLatin1String("m4a")) {
            parsed = media::readMp4(source, &m_mp4Handler, &frames);
        }
        if (parsed) {
            loaded.emplace(MediaAsset::fromItems(std::move(parsed->items), parsed->duration));
            if (frames.known) {
                // The line the handler's own read prints (mp3 and m4a have a handler).
                if (const TagHandler* handler = tagHandlerFor(audioFormatForPath(path))) {
                    Console::line(QStringLiteral("[TagIO] ") + handler->name() +
                                  QStringLiteral(".readGenre: ") + QFileInfo(path).fileName());
                }
                direct = DirectTags{frames.yearText ? extractYear(*frames.yearText) : std::nullopt,
                                    frames.genre.value_or(QString())};
            }
        }
        if (!loaded && MediaAsset::readsItself(path)) {
            loaded = MediaAsset::loadOwn(source);
        }
        if (!loaded) {
            // TagLib trusts the sizes in the file: it gets only files whose reads stay bounded.
            if (const TagHandler* handler = tagHandlerFor(audioFormatForPath(path))) {
                handler->checkWholeReads(source);
            }
            loaded.emplace(MediaAsset::loadWithTagLib(source));
        }
    } catch (const AppError&) {
        throw;
    } catch (const std::exception& e) {
        throw AppError::tagReadFailed(path, QString::fromUtf8(e.what()));
    }
    const MediaAsset& asset = *loaded;
    const QList<Item>& common = asset.commonMetadata();
    const QList<Item>& metadata = asset.metadata();

    TagData record;
    record.duration = std::isnan(asset.duration()) ? 0.0 : asset.duration();

    struct Field {
        QString TagData::*member;
        const QString& commonKey;
        QString id3Frame;
        QString itunesKey;
    };
    const Field fields[] = {
        {&TagData::title, MediaAsset::commonKeyTitle, QStringLiteral("TIT2"), QStringLiteral("\u00A9nam")},
        {&TagData::artist, MediaAsset::commonKeyArtist, QStringLiteral("TPE1"), QStringLiteral("\u00A9ART")},
        {&TagData::album, MediaAsset::commonKeyAlbumName, QStringLiteral("TALB"),
         QStringLiteral("\u00A9alb")},
    };
    for (const Field& field : fields) {
        std::optional<QString> value = loadFirstString(withCommonKey(common, field.commonKey));
        if (!value) {
            QList<const Item*> fallback;
            appendKeyed(fallback, metadata, MediaAsset::keySpaceID3, {field.id3Frame});
            appendKeyed(fallback, metadata, MediaAsset::keySpaceiTunes, {field.itunesKey});
            value = loadFirstString(fallback);
        }
        if (value) {
            record.*field.member = *value;
        }
    }

    if (!direct) {
        direct = readDirect(source);
    }
    record.year = direct->year;
    if (!record.year) {
        if (const auto text = loadFirstString(withCommonKey(common, MediaAsset::commonKeyCreationDate))) {
            record.year = extractYear(*text);
        }
    }
    if (!record.year) {
        QList<const Item*> dates;
        appendKeyed(dates, metadata, MediaAsset::keySpaceID3,
                    {QStringLiteral("TDRC"), QStringLiteral("TYER")});
        appendKeyed(dates, metadata, MediaAsset::keySpaceiTunes, {QStringLiteral("\u00A9day")});
        if (const auto text = loadFirstString(dates)) {
            record.year = extractYear(*text);
        }
    }

    record.genre = direct->genre;
    if (record.genre.isEmpty()) {
        record.genre = resolveGenre(common, metadata, m_id3Genres);
    }

    repairArtistTitle(record, path);
    DebugLogger& logger = DebugLogger::shared();
    if (logger.isEnabled()) {
        logger.log(QStringLiteral("READ OK: ") + okLine(record), LogCategory::file);
    }
    return record;
}

std::optional<int> UniversalTagReader::readYearDirect(const QString& path) const {
    const TagHandler* handler = tagHandlerFor(audioFormatForPath(path));
    const std::optional<ByteSource> source = handler ? ByteSource::open(path) : std::nullopt;
    try {
        return source ? handler->readYearAndGenre(*source).year : std::nullopt;
    } catch (const std::exception&) {
        // A handler that cannot read the file gives no year; the media layer may.
        return std::nullopt;
    }
}

UniversalTagReader::DirectTags UniversalTagReader::readDirect(const ByteSource& source) const {
    const TagHandler* handler = tagHandlerFor(audioFormatForPath(source.path()));
    if (handler == nullptr) {
        return {};
    }
    try {
        TagHandler::YearAndGenre found = handler->readYearAndGenre(source);
        return {found.year, std::move(found.genre).value_or(QString())};
    } catch (const std::exception&) {
        return {};
    }
}

QString UniversalTagReader::resolveGenre(const QList<Item>& commonItems, const QList<Item>& metadataItems,
                                         const QStringList& names) {
    return ::resolveGenre(commonItems, metadataItems, names);
}

std::optional<QString> UniversalTagReader::loadFirstString(const QList<const Item*>& items) {
    for (const Item* item : items) {
        if (item->stringValue && !item->stringValue->isEmpty()) {
            return item->stringValue;
        }
    }
    return std::nullopt;
}

bool UniversalTagReader::isNumericArtist(const QString& text) {
    const QString trimmed = TextUtil::trimWs(text);
    if (trimmed.isEmpty()) {
        return false;
    }
    const QList<uint> scalars = trimmed.toUcs4();
    for (const uint c : scalars) {
        const QChar::Category category = QChar::category(char32_t(c));
        if (category != QChar::Number_DecimalDigit && category != QChar::Number_Letter &&
            category != QChar::Number_Other) {
            return false;
        }
    }
    return true;
}

void UniversalTagReader::repairArtistTitle(TagData& record, const QString& path) {
    if (!isNumericArtist(record.artist)) {
        return;
    }
    const qsizetype at = record.title.indexOf(QLatin1String(" - "));
    if (at < 0) {
        return;
    }
    const QString newArtist = TextUtil::trimWs(record.title.left(at));
    const QString newTitle = TextUtil::trimWs(record.title.mid(at + 3));
    if (newArtist.isEmpty() || newTitle.isEmpty()) {
        return;
    }
    DebugLogger& logger = DebugLogger::shared();
    if (logger.isEnabled()) {
        logger.log(QStringLiteral("TAG-FIX: artist '") + record.artist + QStringLiteral("' \u2192 '") +
                       newArtist + QStringLiteral("', title '") + record.title +
                       QStringLiteral("' \u2192 '") + newTitle + QStringLiteral("' | ") +
                       QFileInfo(path).fileName(),
                   LogCategory::file);
    }
    record.artist = newArtist;
    record.title = newTitle;
    record.wasAutoFixed = true;
}
