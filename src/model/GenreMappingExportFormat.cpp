#include "model/GenreMappingExportFormat.h"

#include "model/ExchangeFile.h"

#include <QJsonArray>

GenreMappingExportFormat GenreMappingExportFormat::fromMappings(const QList<GenreMapping>& mappings) {
    GenreMappingExportFormat format;
    for (const GenreMapping& mapping : mappings) {
        format.mappings.append({mapping.source, mapping.target});
    }
    return format;
}

QJsonObject GenreMappingExportFormat::toJson() const {
    QJsonArray array;
    for (const Entry& entry : mappings) {
        array.append(
            QJsonObject{{QStringLiteral("source"), entry.source}, {QStringLiteral("target"), entry.target}});
    }
    return QJsonObject{{QStringLiteral("mappings"), array}, {QStringLiteral("version"), version}};
}

std::variant<GenreMappingExportFormat, QString> GenreMappingExportFormat::fromJson(const QJsonObject& object,
                                                                                   AppLanguage language) {
    auto entries = ExchangeFile::readList<Entry>(
        object, QStringLiteral("mappings"), language,
        [language](const QJsonObject& mapping, const QString& where) -> std::variant<Entry, QString> {
            for (const char* key : {"source", "target"}) {
                if (!mapping.value(QLatin1String(key)).isString()) {
                    return ExchangeFile::wrongType(where + QLatin1Char('.') + QLatin1String(key), "Text",
                                                   "a text", language);
                }
            }
            return Entry{mapping.value(QStringLiteral("source")).toString(),
                         mapping.value(QStringLiteral("target")).toString()};
        });
    if (const QString* failure = std::get_if<QString>(&entries)) {
        return *failure;
    }
    GenreMappingExportFormat format;
    format.version = ExchangeFile::integralInt(object.value(QStringLiteral("version"))).value_or(0);
    format.mappings = std::get<QList<Entry>>(std::move(entries));
    return format;
}

QList<GenreMapping> GenreMappingExportFormat::toMappings() const {
    QList<GenreMapping> result;
    for (const Entry& entry : mappings) {
        result.append({QUuid::createUuid(), entry.source, entry.target});
    }
    return result;
}
