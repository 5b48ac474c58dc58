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
    auto entries = ExchangeFile::readList<Entry>(
        object, QStringLiteral("rules"), language,
        [language](const QJsonObject& rule, const QString& where) -> std::variant<Entry, QString> {
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
            return Entry{*from, *to, label.toString()};
        });
    if (const QString* failure = std::get_if<QString>(&entries)) {
        return *failure;
    }
    DecadeRuleExportFormat format;
    format.version = ExchangeFile::integralInt(object.value(QStringLiteral("version"))).value_or(0);
    format.rules = std::get<QList<Entry>>(std::move(entries));
    return format;
}

QList<DecadeRule> DecadeRuleExportFormat::toRules() const {
    QList<DecadeRule> result;
    for (const Entry& entry : rules) {
        result.append({QUuid::createUuid(), entry.from, entry.to, entry.label});
    }
    return result;
}
