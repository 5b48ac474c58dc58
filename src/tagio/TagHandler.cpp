#include "tagio/TagHandler.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "tagio/ByteSource.h"
#include "tagio/flac/FLACHandler.h"
#include "tagio/FilePieces.h"
#include "tagio/GenreNames.h"
#include "tagio/id3/ID3v2Handler.h"
#include "tagio/mp4/MP4Handler.h"
#include "tagio/MediaAsset.h"

#include <QFileInfo>

#include <cerrno>

namespace {

// The handlers take every file they can rewrite; the reader refuses more (no
// audio stream, a tag it will not hold). A file the reader refuses is never
// written: the reader's own parser for the format runs first, over headers
// and a few capped text bodies, before a handler reads a tag or movie whole.
// (FLAC files are read by the handler that writes them.)
void refuseWhatTheMediaReaderRefuses(const ByteSource& source, const QString& path) {
    try {
        MediaAsset::loadOwn(source);
    } catch (const AppError& error) {
        throw AppError::tagWriteFailed(path, error.text());
    }
}

ByteSource openToRead(const QString& path) {
    std::optional<ByteSource> source = ByteSource::open(path);
    if (!source) {
        throw AppError::tagReadFailed(path, errnoText(errno));
    }
    return *std::move(source);
}

class ID3v2Tags final : public TagHandler {
public:
    QLatin1StringView name() const override { return QLatin1StringView("ID3v2Handler"); }

    YearAndGenre readYearAndGenre(const ByteSource& source) const override {
        Console::line(QStringLiteral("[TagIO] ID3v2Handler.readGenre: ") + QFileInfo(source.path()).fileName());
        ID3v2Handler::YearAndGenre found = ID3v2Handler::readYearAndGenre(source, source.path());
        return {found.year, std::move(found.genre)};
    }

    std::optional<QString> readGenre(const QString& path) const override { return ID3v2Handler::readGenre(path); }

    TitleArtist readTitleAndArtist(const QString& path) const override {
        const QList<std::optional<QString>> texts = ID3v2Handler::readTextFrames(
            openToRead(path), path, {QByteArrayLiteral("TIT2"), QByteArrayLiteral("TPE1")});
        return {texts[0], texts[1]};
    }

    std::optional<QString> readDateText(const QString& path) const override {
        return ID3v2Handler::readDateText(openToRead(path), path);
    }

    void checkWholeReads(const ByteSource& source) const override {
        constexpr qint64 maxTag = qint64(64) << 20;
        const QString& path = source.path();
        const QByteArray header = source.readAtMost(0, 10);
        qint64 length = header.startsWith("ID3") ? qint64(ID3v2Handler::syncsafeDecode(header, 6)) + 10 : 0;
        if (const std::optional<ID3v2Handler::Range> tag = ID3v2Handler::locateTag(source, path)) {
            length = std::max(length, tag->length());
        }
        if (length > maxTag) {
            throw AppError::tagReadFailed(path,
                                          QStringLiteral("ID3 tag too large to read (%1 bytes)").arg(length));
        }
    }

    void refuseWhatTheReaderRefuses(const ByteSource& source, const QString& path) const override {
        refuseWhatTheMediaReaderRefuses(source, path);
    }

    FilePieces describeGenreWrite(const GenreWrite& write, const ByteSource& source,
                                  const QString& path) const override {
        return ID3v2Handler::writeGenre(write.genre, write.year, write.title, write.artist, SourceBytes(source),
                                        path);
    }
};

class MP4Tags final : public TagHandler {
public:
    MP4Tags() : m_handler(id3v1GenreNames()) {}

    QLatin1StringView name() const override { return QLatin1StringView("MP4Handler"); }

    YearAndGenre readYearAndGenre(const ByteSource& source) const override {
        MP4Handler::YearAndGenre found = m_handler.readYearAndGenre(source);
        return {found.year, std::move(found.genre)};
    }

    std::optional<QString> readGenre(const QString& path) const override { return m_handler.readGenre(path); }

    TitleArtist readTitleAndArtist(const QString& path) const override {
        const QList<std::optional<QString>> texts =
            m_handler.readItemTexts(path, {QStringLiteral("\u00A9nam"), QStringLiteral("\u00A9ART")});
        return {texts[0], texts[1]};
    }

    std::optional<QString> readDateText(const QString& path) const override {
        return m_handler.readItemTexts(path, {QStringLiteral("\u00A9day")}).first();
    }

    void checkWholeReads(const ByteSource& source) const override { MP4Handler::checkMovieTree(source.path()); }

    void refuseWhatTheReaderRefuses(const ByteSource& source, const QString& path) const override {
        refuseWhatTheMediaReaderRefuses(source, path);
    }

    FilePieces describeGenreWrite(const GenreWrite& write, const ByteSource& source,
                                  const QString& path) const override {
        return m_handler.writeGenre(write.genre, write.year, write.title, write.artist, SourceBytes(source), path);
    }

private:
    MP4Handler m_handler;
};

class FLACTags final : public TagHandler {
public:
    QLatin1StringView name() const override { return QLatin1StringView("FLACHandler"); }

    YearAndGenre readYearAndGenre(const ByteSource& source) const override {
        const FLACHandler::CommentIndex index = FLACHandler::readCommentIndex(source.path());
        return {index.firstYear(), index.lastValue(QLatin1String("GENRE"))};
    }

    std::optional<QString> readGenre(const QString& path) const override { return FLACHandler::readGenre(path); }

    TitleArtist readTitleAndArtist(const QString& path) const override {
        const FLACHandler::CommentIndex index = FLACHandler::readCommentIndex(path);
        return {index.lastValue(QLatin1String("TITLE")), index.lastValue(QLatin1String("ARTIST"))};
    }

    std::optional<QString> readDateText(const QString& path) const override {
        const FLACHandler::CommentIndex index = FLACHandler::readCommentIndex(path);
        const qsizetype at = index.firstDate();
        return at < 0 ? std::nullopt : std::optional<QString>(index.value(at));
    }

    // FLAC files are read by this handler alone, never whole.
    void checkWholeReads(const ByteSource&) const override {}

    void refuseWhatTheReaderRefuses(const ByteSource& source, const QString& path) const override {
        FLACHandler::validateMagic(SourceBytes(source), path);
    }

    FilePieces describeGenreWrite(const GenreWrite& write, const ByteSource& source,
                                  const QString& path) const override {
        return FLACHandler::writeGenre(write.genre, write.year, write.title, write.artist, SourceBytes(source),
                                       path);
    }
};

} // namespace

const TagHandler* tagHandlerFor(AudioFormat format) {
    static const ID3v2Tags id3;
    static const MP4Tags mp4;
    static const FLACTags flac;
    switch (format) {
    case AudioFormat::mp3:
    case AudioFormat::aiff:
    case AudioFormat::aif:
    case AudioFormat::wav:
        return &id3;
    case AudioFormat::m4a:
    case AudioFormat::aac:
        return &mp4;
    case AudioFormat::flac:
        return &flac;
    case AudioFormat::ogg:
    case AudioFormat::opus:
    case AudioFormat::wma:
    case AudioFormat::unknown:
        break;
    }
    return nullptr;
}
