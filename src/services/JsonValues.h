#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// Strict readers for the JSON answers of the lookup services: a value of the
// wrong type counts as missing instead of being coerced.
namespace JsonValues {

// The top-level object of a JSON text; none when it is not valid JSON or no object.
std::optional<QJsonObject> parseObject(const QByteArray& body);

// The elements of an array made only of objects; none for anything else.
std::optional<QList<QJsonObject>> objectList(const QJsonValue& value);

// The first element of a non-empty array made only of texts.
std::optional<QString> firstText(const QJsonValue& value);

// A JSON number without fraction whose magnitude is at most `limit`
// (by default 2^53, the largest range a double holds exactly); booleans and
// texts are not numbers.
std::optional<qint64> wholeNumber(const QJsonValue& value, double limit = 9007199254740992.0);

} // namespace JsonValues
