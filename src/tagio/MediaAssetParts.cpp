#include "tagio/MediaAssetParts.h"

#include "model/AppError.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"

#include <QHash>

#include <cmath>

namespace media {

namespace {

std::optional<qint64> wholeNumber(const QString& text) {
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(n) : std::nullopt;
}

std::optional<QString> lookup(const QHash<QString, QString>& map, const QString& key) {
    const auto it = map.find(key);
    return it == map.end() ? std::nullopt : std::optional<QString>(*it);
}

} // namespace

Item makeItem(const QString& keySpace, const QString& key, std::optional<QString> common,
              std::optional<QString> value, std::optional<qint64> number) {
    Item item;
    item.commonKey = std::move(common);
    item.keySpace = keySpace;
    item.key = key;
    item.numberValue = (value && !number) ? wholeNumber(*value) : number;
    item.stringValue = std::move(value);
    return item;
}

// The common key of a field of TagLib's unified property names, used for the
// tag formats whose own keys are these names (Vorbis comments, APE, ID3v1, INFO).
std::optional<QString> commonKeyForProperty(const QString& name) {
    static const QHash<QString, QString> map = {
        {QStringLiteral("TITLE"), MediaAsset::commonKeyTitle},
        {QStringLiteral("ARTIST"), MediaAsset::commonKeyArtist},
        {QStringLiteral("ALBUM"), MediaAsset::commonKeyAlbumName},
        {QStringLiteral("DATE"), MediaAsset::commonKeyCreationDate},
        {QStringLiteral("GENRE"), MediaAsset::commonKeyType},
    };
    return lookup(map, name.toUpper());
}

std::optional<QString> id3CommonKey(const QString& frameId) {
    static const QHash<QString, QString> map = {
        {QStringLiteral("TIT2"), MediaAsset::commonKeyTitle},
        {QStringLiteral("TPE1"), MediaAsset::commonKeyArtist},
        {QStringLiteral("TALB"), MediaAsset::commonKeyAlbumName},
        {QStringLiteral("TDRC"), MediaAsset::commonKeyCreationDate},
        {QStringLiteral("TYER"), MediaAsset::commonKeyCreationDate},
        {QStringLiteral("TCON"), MediaAsset::commonKeyType},
    };
    return lookup(map, frameId);
}

std::optional<QString> mp4CommonKey(const QString& key) {
    static const QHash<QString, QString> map = {
        {QStringLiteral("\u00A9nam"), MediaAsset::commonKeyTitle},
        {QStringLiteral("\u00A9ART"), MediaAsset::commonKeyArtist},
        {QStringLiteral("\u00A9alb"), MediaAsset::commonKeyAlbumName},
        {QStringLiteral("\u00A9day"), MediaAsset::commonKeyCreationDate},
        {QStringLiteral("\u00A9gen"), MediaAsset::commonKeyType},
    };
    return lookup(map, key);
}

// TagLib stores the ID3v1 genre references of a TCON frame ("(17)", or a
// bare "17" in v2.4) as bare numbers; they are given back in the "(17)" form so
// that the genre resolution names them from our own list.
QString genreFieldText(const QStringList& fields) {
    QStringList parts;
    for (const QString& text : fields) {
        bool ok = false;
        const int n = text.toInt(&ok);
        if (ok && n >= 0 && n <= 255 && !text.startsWith(QLatin1Char('+'))) {
            parts.append(QStringLiteral("(%1)").arg(n));
        } else {
            parts.append(text);
        }
    }
    return parts.join(QLatin1String(kValueSeparator));
}

QString cutAtNul(QString text) {
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0) {
        text.truncate(nul);
    }
    return text;
}

double roundedSeconds(double milliseconds) {
    if (!std::isfinite(milliseconds) || milliseconds <= 0) {
        return 0.0;
    }
    return std::floor(milliseconds + 0.5) / 1000.0;
}

void throwNoAudio(const QString& path) {
    throw AppError::tagReadFailed(path, QStringLiteral("No audio stream found in the file"));
}

Window::Window(const ByteSource& source) : m_source(source), m_size(source.size()) {}

std::optional<QByteArray> Window::read(qint64 offset, qint64 length) {
    if (!Bytes::fits(m_size, offset, length)) {
        return std::nullopt;
    }
    constexpr qint64 windowSize = 16 * 1024;
    if (m_windowStart >= 0 && offset >= m_windowStart &&
        Bytes::fits(m_window.size(), offset - m_windowStart, length)) {
        return m_window.mid(offset - m_windowStart, length);
    }
    if (length > windowSize / 2) {
        return m_source.read(offset, length);
    }
    m_windowStart = offset;
    m_window = m_source.readAtMost(offset, windowSize);
    if (!Bytes::fits(m_window.size(), 0, length)) {
        return std::nullopt;
    }
    return m_window.left(length);
}

bool Window::spend(qint64 length) {
    if (length > kMaxValueBody || length > kMaxValueTotal - m_spent) {
        return false;
    }
    m_spent += length;
    return true;
}

QByteArray Window::readAtMost(qint64 offset, qint64 length) {
    if (offset < 0 || offset >= m_size || length <= 0) {
        return {};
    }
    return read(offset, std::min(length, m_size - offset)).value_or(QByteArray());
}

} // namespace media
