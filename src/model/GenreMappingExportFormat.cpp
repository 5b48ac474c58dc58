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
    const QJsonValue list = object.value(QStringLiteral("mappings"));
    if (!list.isArray()) {
        return ExchangeFile::wrongType(QStringLiteral("mappings"), "Liste", "a list", language);
    }
    GenreMappingExportFormat format;
    format.version = ExchangeFile::integralInt(object.value(QStringLiteral("version"))).value_or(0);
    const QJsonArray array = list.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString where = QStringLiteral("mappings[%1]").arg(i);
        if (!array.at(i).isObject()) {
            return ExchangeFile::wrongType(where, "Objekt", "an object", language);
        }
        const QJsonObject mapping = array.at(i).toObject();
        for (const char* key : {"source", "target"}) {
            if (!mapping.value(QLatin1String(key)).isString()) {
                return ExchangeFile::wrongType(where + QLatin1Char('.') + QLatin1String(key), "Text",
                                               "a text", language);
            }
        }
        format.mappings.append({mapping.value(QStringLiteral("source")).toString(),
                                mapping.value(QStringLiteral("target")).toString()});
    }
    return format;
}

QList<GenreMapping> GenreMappingExportFormat::toMappings() const {
    QList<GenreMapping> result;
    for (const Entry& entry : mappings) {
        result.append({QUuid::createUuid(), entry.source, entry.target});
    }
    return result;
}
