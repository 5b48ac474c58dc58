#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <optional>

// Builds the query part of a request address. Every byte of a name or value
// (UTF-8) that is not unreserved (A-Z a-z 0-9 - . _ ~) is percent-encoded, so
// a "+" reaches the server as "%2B" and a blank as "%20"; items keep the
// order in which they were added.
//
//     UrlQuery q;
//     q.add("query", text).add("fmt", "json");
//     std::optional<QUrl> url = UrlQuery::withQuery(baseURL, q);
class UrlQuery {
public:
    UrlQuery& add(const QString& name, const QString& value);

    const QList<QPair<QString, QString>>& items() const { return m_items; }

    // "name=value&name=value", fully encoded.
    QByteArray encoded() const;

    // Percent-encodes every byte of the UTF-8 form except the unreserved ones.
    static QByteArray percentEncode(const QString& text);

    // Parses `base` strictly; it must be an absolute http or https address
    // with a host. Returns it with its query replaced by `query`, or no value
    // when the base cannot be used.
    static std::optional<QUrl> withQuery(const QString& base, const UrlQuery& query);

    // The same check as withQuery, without changing the address.
    static std::optional<QUrl> parseBase(const QString& base);

private:
    QList<QPair<QString, QString>> m_items;
};
