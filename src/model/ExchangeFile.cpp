#include "model/ExchangeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <climits>
#include <cmath>

namespace ExchangeFile {

namespace {

QString pick(bool english, const QString& englishText, const QString& germanText) {
    return english ? englishText : germanText;
}

} // namespace

std::optional<int> integralInt(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || number < INT_MIN || number > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(number);
}

QString wrongType(const QString& where, const char* kindEnglish, const char* kindGerman, bool english) {
    return where + QStringLiteral(": ") +
           pick(english, QStringLiteral("expected ") + QString::fromUtf8(kindEnglish),
                QString::fromUtf8(kindGerman) + QStringLiteral(" erwartet"));
}

std::variant<QJsonObject, QString> readObject(const QString& path, bool english) {
    const QFileInfo info(path);
    // Opening a named pipe would wait for a writer, with the window frozen.
    if (info.exists() && !info.isFile()) {
        return pick(english, QStringLiteral("not a regular file"), QStringLiteral("keine reguläre Datei"));
    }
    if (info.exists() && info.size() > maxFileSize) {
        return pick(english, QStringLiteral("The file is larger than 10 MiB"),
                    QStringLiteral("Die Datei ist größer als 10 MiB"));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return file.errorString();
    }
    // The size may have grown since it was looked at: read no more than the limit allows.
    const QByteArray data = file.read(maxFileSize + 1);
    if (data.size() > maxFileSize) {
        return pick(english, QStringLiteral("The file is larger than 10 MiB"),
                    QStringLiteral("Die Datei ist größer als 10 MiB"));
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        return error.errorString() + QStringLiteral(" (") + QString::number(error.offset) + QLatin1Char(')');
    }
    if (!document.isObject()) {
        return pick(english, QStringLiteral("the file holds no JSON object"),
                    QStringLiteral("die Datei enthält kein JSON-Objekt"));
    }
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QStringLiteral("version"));
    if (!version.isDouble() || !std::isfinite(version.toDouble()) ||
        version.toDouble() != std::floor(version.toDouble())) {
        return wrongType(QStringLiteral("version"), "an integer", "Ganze Zahl", english);
    }
    return object;
}

std::optional<QString> writeObject(const QString& path, const QJsonObject& object) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    if (file.write(bytes) != bytes.size()) {
        const QString description = file.errorString();
        file.cancelWriting();
        return description;
    }
    if (!file.commit()) {
        return file.errorString();
    }
    return std::nullopt;
}

} // namespace ExchangeFile
