#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <optional>

// The stored form of the rule and mapping lists: a compact JSON array with one
// object per element, decoded strictly (one bad element fails the whole list).
namespace JsonList {

template <typename T> QByteArray encode(const QList<T>& items) {
    QJsonArray array;
    for (const T& item : items) {
        array.append(item.toJson());
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

template <typename T> std::optional<QList<T>> decode(const QByteArray& data) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        return std::nullopt;
    }
    QList<T> items;
    for (const QJsonValue& value : document.array()) {
        if (!value.isObject()) {
            return std::nullopt;
        }
        std::optional<T> item = T::fromJson(value.toObject());
        if (!item) {
            return std::nullopt;
        }
        items.append(*item);
    }
    return items;
}

} // namespace JsonList
