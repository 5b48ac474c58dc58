#include "services/JsonValues.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace JsonValues {

std::optional<QJsonObject> parseObject(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return document.object();
}

std::optional<QList<QJsonObject>> objectList(const QJsonValue& value) {
    if (!value.isArray()) {
        return std::nullopt;
    }
    QList<QJsonObject> objects;
    for (const QJsonValue& element : value.toArray()) {
        if (!element.isObject()) {
            return std::nullopt;
        }
        objects.append(element.toObject());
    }
    return objects;
}

std::optional<QString> firstText(const QJsonValue& value) {
    if (!value.isArray()) {
        return std::nullopt;
    }
    const QJsonArray array = value.toArray();
    if (array.isEmpty()) {
        return std::nullopt;
    }
    for (const QJsonValue& element : array) {
        if (!element.isString()) {
            return std::nullopt;
        }
    }
    return array.first().toString();
}

std::optional<qint64> wholeNumber(const QJsonValue& value, double limit) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    // The bound stays below 2^63 so the conversion below is always defined.
    const double bound = std::min(limit, 9223372036854774784.0);
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > bound) {
        return std::nullopt;
    }
    return static_cast<qint64>(number);
}

} // namespace JsonValues
