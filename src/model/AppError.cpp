#include "model/AppError.h"

#include <QFileInfo>

namespace {

// The last path component (file name with extension); a trailing slash is
// ignored so that a folder still gives its name.
QString lastComponent(const QString& path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) {
        p.chop(1);
    }
    return QFileInfo(p).fileName();
}

} // namespace

AppError::AppError(Kind kind, QString url, QString text)
    : m_kind(kind), m_url(std::move(url)), m_text(std::move(text)) {
    m_what = errorDescription().toUtf8();
}

AppError AppError::fileNotFound(const QString& url) {
    return AppError(Kind::fileNotFound, url, {});
}
AppError AppError::unsupportedFormat(const QString& text) {
    return AppError(Kind::unsupportedFormat, {}, text);
}
AppError AppError::tagReadFailed(const QString& url, const QString& text) {
    return AppError(Kind::tagReadFailed, url, text);
}
AppError AppError::tagWriteFailed(const QString& url, const QString& text) {
    return AppError(Kind::tagWriteFailed, url, text);
}
AppError AppError::networkError(const QString& text) {
    return AppError(Kind::networkError, {}, text);
}
AppError AppError::aiError(const QString& text) {
    return AppError(Kind::aiError, {}, text);
}
AppError AppError::cancelled() {
    return AppError(Kind::cancelled, {}, {});
}
AppError AppError::accessDenied(const QString& url) {
    return AppError(Kind::accessDenied, url, {});
}

QString AppError::errorDescription() const {
    switch (m_kind) {
    case Kind::fileNotFound:
        return QStringLiteral("Datei nicht gefunden: ") + lastComponent(m_url);
    case Kind::unsupportedFormat:
        return QStringLiteral("Nicht unterstütztes Format: ") + m_text;
    case Kind::tagReadFailed:
        return QStringLiteral("Tags konnten nicht gelesen werden [") + lastComponent(m_url) +
               QStringLiteral("]: ") + m_text;
    case Kind::tagWriteFailed:
        return QStringLiteral("Tags konnten nicht geschrieben werden [") + lastComponent(m_url) +
               QStringLiteral("]: ") + m_text;
    case Kind::networkError:
        return QStringLiteral("Netzwerkfehler: ") + m_text;
    case Kind::aiError:
        return QStringLiteral("KI-Fehler: ") + m_text;
    case Kind::cancelled:
        return QStringLiteral("Vorgang abgebrochen");
    case Kind::accessDenied:
        return QStringLiteral("Zugriff verweigert: ") + lastComponent(m_url);
    }
    return {};
}
