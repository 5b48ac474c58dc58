#pragma once

#include "model/AppLanguage.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

// Reading and writing the JSON files that carry the decade rules and genre
// mappings from one computer to another. Every failure comes back as a short
// description in the language the caller names; nothing here reads the settings.
namespace ExchangeFile {

// Files larger than this are refused before anything is read.
constexpr qint64 maxFileSize = 10 * 1024 * 1024;

// The top-level object of the file at `path`, with its "version" checked to be
// an integral number, or the description of why the file cannot be used.
std::variant<QJsonObject, QString> readObject(const QString& path, AppLanguage language);

// Writes `object` pretty-printed (keys sorted) to `path` through a temporary
// file that replaces the target only when complete. Returns the description
// of a failure; the file that was there before is then untouched.
std::optional<QString> writeObject(const QString& path, const QJsonObject& object);

// An integral JSON number that fits an int.
std::optional<int> integralInt(const QJsonValue& value);

// "<where>: expected an integer/a text/an object/a list" in `language`.
QString wrongType(const QString& where, const char* kindGerman, const char* kindEnglish,
                  AppLanguage language);

// The entries of the list under `key`, all or nothing: each element must be an
// object, which `readEntry(object, where)` turns into an entry or the
// description of why it cannot (`where` is "<key>[<index>]"). The first
// failure is returned.
template <typename Entry, typename ReadEntry>
std::variant<QList<Entry>, QString> readList(const QJsonObject& object, const QString& key,
                                             AppLanguage language, ReadEntry readEntry) {
    const QJsonValue list = object.value(key);
    if (!list.isArray()) {
        return wrongType(key, "Liste", "a list", language);
    }
    const QJsonArray array = list.toArray();
    QList<Entry> entries;
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString where = key + QStringLiteral("[%1]").arg(i);
        if (!array.at(i).isObject()) {
            return wrongType(where, "Objekt", "an object", language);
        }
        std::variant<Entry, QString> entry = readEntry(array.at(i).toObject(), where);
        if (const QString* failure = std::get_if<QString>(&entry)) {
            return *failure;
        }
        entries.append(std::get<Entry>(std::move(entry)));
    }
    return entries;
}

} // namespace ExchangeFile
