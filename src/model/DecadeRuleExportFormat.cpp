#include "model/DecadeRuleExportFormat.h"

#include "model/ExchangeFile.h"

#include <QJsonArray>

DecadeRuleExportFormat DecadeRuleExportFormat::fromRules(const QList<DecadeRule>& rules) {
    DecadeRuleExportFormat format;
    for (const DecadeRule& rule : rules) {
        format.rules.append({rule.from, rule.to, rule.label});
    }
    return format;
}

QJsonObject DecadeRuleExportFormat::toJson() const {
    QJsonArray array;
    for (const Entry& entry : rules) {
        array.append(QJsonObject{{QStringLiteral("from"), entry.from},
                                 {QStringLiteral("label"), entry.label},
                                 {QStringLiteral("to"), entry.to}});
    }
    return QJsonObject{{QStringLiteral("rules"), array}, {QStringLiteral("version"), version}};
}

std::variant<DecadeRuleExportFormat, QString> DecadeRuleExportFormat::fromJson(const QJsonObject& object,
                                                                               AppLanguage language) {
    const QJsonValue list = object.value(QStringLiteral("rules"));
    if (!list.isArray()) {
        return ExchangeFile::wrongType(QStringLiteral("rules"), "Liste", "a list", language);
    }
    DecadeRuleExportFormat format;
    format.version = ExchangeFile::integralInt(object.value(QStringLiteral("version"))).value_or(0);
    const QJsonArray array = list.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString where = QStringLiteral("rules[%1]").arg(i);
        if (!array.at(i).isObject()) {
            return ExchangeFile::wrongType(where, "Objekt", "an object", language);
        }
        const QJsonObject rule = array.at(i).toObject();
        const auto from = ExchangeFile::integralInt(rule.value(QStringLiteral("from")));
        if (!from) {
            return ExchangeFile::wrongType(where + QStringLiteral(".from"), "Ganze Zahl", "an integer",
                                           language);
        }
        const auto to = ExchangeFile::integralInt(rule.value(QStringLiteral("to")));
        if (!to) {
            return ExchangeFile::wrongType(where + QStringLiteral(".to"), "Ganze Zahl", "an integer",
                                           language);
        }
        const QJsonValue label = rule.value(QStringLiteral("label"));
        if (!label.isString()) {
            return ExchangeFile::wrongType(where + QStringLiteral(".label"), "Text", "a text", language);
        }
        format.rules.append({*from, *to, label.toString()});
    }
    return format;
}

QList<DecadeRule> DecadeRuleExportFormat::toRules() const {
    QList<DecadeRule> result;
    for (const Entry& entry : rules) {
        result.append({QUuid::createUuid(), entry.from, entry.to, entry.label});
    }
    return result;
}
