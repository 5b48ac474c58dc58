#pragma once

#include "model/AppLanguage.h"
#include "model/DecadeRule.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <variant>

// The decade-rule exchange file: {"rules": [{"from", "label", "to"}...], "version": 1}.
// Rules carry no id in the file; every imported rule gets a fresh one.
struct DecadeRuleExportFormat {
    struct Entry {
        int from = 0;
        int to = 0;
        QString label;
    };

    int version = 1;
    QList<Entry> rules;

    static DecadeRuleExportFormat fromRules(const QList<DecadeRule>& rules);
    QJsonObject toJson() const;
    // All or nothing: every rule needs "from" and "to" as integers within int and
    // "label" as a text; the description names the first entry that fails.
    static std::variant<DecadeRuleExportFormat, QString> fromJson(const QJsonObject& object,
                                                                  AppLanguage language);
    // The entries as new rules, each with a fresh id.
    QList<DecadeRule> toRules() const;
};
