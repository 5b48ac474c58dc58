#pragma once

#include "model/AppLanguage.h"
#include "model/GenreMapping.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <variant>

// The genre-mapping exchange file: {"mappings": [{"source", "target"}...], "version": 1}.
// Mappings carry no id in the file; every imported mapping gets a fresh one.
struct GenreMappingExportFormat {
    struct Entry {
        QString source;
        QString target;
    };

    int version = 1;
    QList<Entry> mappings;

    static GenreMappingExportFormat fromMappings(const QList<GenreMapping>& mappings);
    QJsonObject toJson() const;
    // All or nothing: every mapping needs "source" and "target" as texts; the
    // description names the first entry that fails.
    static std::variant<GenreMappingExportFormat, QString> fromJson(const QJsonObject& object,
                                                                    AppLanguage language);
    // The entries as new mappings, each with a fresh id.
    QList<GenreMapping> toMappings() const;
};
