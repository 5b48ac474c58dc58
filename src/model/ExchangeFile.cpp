#include "model/ExchangeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <climits>
#include <cmath>

namespace ExchangeFile {

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

QString wrongType(const QString& where, const char* kindGerman, const char* kindEnglish,
                  AppLanguage language) {
    return where + QStringLiteral(": ") +
           localizedText(QString::fromUtf8(kindGerman) + QStringLiteral(" erwartet"),
                         QStringLiteral("expected ") + QString::fromUtf8(kindEnglish), language);
}

std::variant<QJsonObject, QString> readObject(const QString& path, AppLanguage language) {
    const QFileInfo info(path);
    // Opening a named pipe would wait for a writer, with the window frozen.
    if (info.exists() && !info.isFile()) {
        return localizedText(QStringLiteral("keine reguläre Datei"), QStringLiteral("not a regular file"),
                             language);
    }
    if (info.exists() && info.size() > maxFileSize) {
        return localizedText(QStringLiteral("Die Datei ist größer als 10 MiB"),
                             QStringLiteral("The file is larger than 10 MiB"), language);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return file.errorString();
    }
    // The size may have grown since it was looked at: read no more than the limit allows.
    const QByteArray data = file.read(maxFileSize + 1);
    if (data.size() > maxFileSize) {
        return localizedText(QStringLiteral("Die Datei ist größer als 10 MiB"),
                             QStringLiteral("The file is larger than 10 MiB"), language);
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        return error.errorString() + QStringLiteral(" (") + QString::number(error.offset) + QLatin1Char(')');
    }
    if (!document.isObject()) {
        return localizedText(QStringLiteral("die Datei enthält kein JSON-Objekt"),
                             QStringLiteral("the file holds no JSON object"), language);
    }
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QStringLiteral("version"));
    if (!version.isDouble() || !std::isfinite(version.toDouble()) ||
        version.toDouble() != std::floor(version.toDouble())) {
        return wrongType(QStringLiteral("version"), "Ganze Zahl", "an integer", language);
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
