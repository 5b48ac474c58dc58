#include "services/UrlQuery.h"

UrlQuery& UrlQuery::add(const QString& name, const QString& value) {
    m_items.append({name, value});
    return *this;
}

QByteArray UrlQuery::percentEncode(const QString& text) {
    // QUrl::toPercentEncoding leaves exactly the unreserved set alone.
    return QUrl::toPercentEncoding(text);
}

QByteArray UrlQuery::encoded() const {
    QByteArray out;
    for (const auto& [name, value] : m_items) {
        if (!out.isEmpty()) {
            out += '&';
        }
        out += percentEncode(name);
        out += '=';
        out += percentEncode(value);
    }
    return out;
}

std::optional<QUrl> UrlQuery::parseBase(const QString& base) {
    const QUrl url(base, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty()) {
        return std::nullopt;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        return std::nullopt;
    }
    return url;
}

std::optional<QUrl> UrlQuery::withQuery(const QString& base, const UrlQuery& query) {
    std::optional<QUrl> url = parseBase(base);
    if (!url) {
        return std::nullopt;
    }
    // The query is already fully encoded; StrictMode keeps every escape as it is.
    if (query.items().isEmpty()) {
        url->setQuery(QString());
    } else {
        url->setQuery(QString::fromLatin1(query.encoded()), QUrl::StrictMode);
    }
    if (!url->isValid()) {
        return std::nullopt;
    }
    return url;
}
