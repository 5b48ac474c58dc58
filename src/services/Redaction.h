#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Cleans texts before they are printed or put into an error message, so that
// no API key, secret, token or password from a request ever reaches the
// console, the debug log or the screen.
//
//     Console::line("[X] " + Redaction::text(error, {apiKey}));
//     Redaction::url(url)   // for a URL that must be shown at all
class Redaction {
public:
    // What a removed value is replaced with.
    static const QString placeholder; // "[redacted]"

    // A printable form of a URL: no user info, and the value of every query
    // item whose name marks a credential (key, api_key, token, secret, ...)
    // replaced by the placeholder. Other query items are kept.
    static QString url(const QUrl& url);

    // Cleans free text:
    // - every occurrence of a non-empty entry of `secrets` (as is, and in its
    //   percent-encoded form) becomes the placeholder;
    // - user info ("user:password@") in any address in the text is removed;
    // - values of credential query items and "name=value" pairs (api_key=,
    //   token=, secret=, ...) are replaced;
    // - values after "Bearer " and "Basic " are replaced.
    static QString text(const QString& text, const QStringList& secrets = {});

    // True for query item names that carry a credential (case-insensitive).
    static bool isCredentialName(const QString& name);
};
