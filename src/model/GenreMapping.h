#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// One row of the genre table: a genre found as `source` (compared by its
// normalised key) is written as `target`, unchanged.
struct GenreMapping {
    QUuid id;
    QString source;
    QString target;

    bool operator==(const GenreMapping&) const = default;

    QJsonObject toJson() const;
    // Strict: "id", "source" and "target" as texts, the id a valid UUID, else no value.
    static std::optional<GenreMapping> fromJson(const QJsonObject& object);
};

// The 199 built-in rows in table order, made once per run with the same ids.
const QList<GenreMapping>& defaultGenreMappings();

// JSON array form of a mapping list (compact) and its strict decoding: one bad
// element fails the whole list.
QByteArray encodeGenreMappings(const QList<GenreMapping>& mappings);
std::optional<QList<GenreMapping>> decodeGenreMappings(const QByteArray& data);

// The comparison key of a genre or a source: trimmed, lower-cased (full Unicode,
// locale-independent), "-" and "_" turned into blanks, trimmed again.
QString normalizeGenreKey(const QString& genre);

// The target of the first row whose source has the genre's key; otherwise the
// genre trimmed with its first character upper-cased ("" for a blank genre).
QString mapGenre(const QString& genre, const QList<GenreMapping>& mappings);

// Whether some row covers the genre. The genre is keyed without the final trim,
// so a genre that begins or ends with "-" or "_" is never reported as covered.
bool hasGenreMapping(const QString& genre, const QList<GenreMapping>& mappings);
