#include "model/DecadeRule.h"

#include "model/JsonList.h"

#include "model/TextUtil.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>

QJsonObject DecadeRule::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("id"), id.toString(QUuid::WithoutBraces).toUpper());
    object.insert(QStringLiteral("from"), from);
    object.insert(QStringLiteral("to"), to);
    object.insert(QStringLiteral("label"), label);
    return object;
}

namespace {

std::optional<int> strictInt(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double d = value.toDouble();
    // The range is checked before any conversion: a cast of a value outside it is undefined.
    if (!(d >= INT_MIN && d <= INT_MAX) || d != std::trunc(d)) {
        return std::nullopt;
    }
    return static_cast<int>(d);
}

} // namespace

std::optional<DecadeRule> DecadeRule::fromJson(const QJsonObject& object) {
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue label = object.value(QStringLiteral("label"));
    const auto from = strictInt(object.value(QStringLiteral("from")));
    const auto to = strictInt(object.value(QStringLiteral("to")));
    if (!id.isString() || !label.isString() || !from || !to) {
        return std::nullopt;
    }
    const QUuid uuid = QUuid::fromString(id.toString());
    if (uuid.isNull() || id.toString().size() != 36) {
        return std::nullopt;
    }
    return DecadeRule{uuid, *from, *to, label.toString()};
}

const QList<DecadeRule>& defaultDecadeRules() {
    static const QList<DecadeRule> rules = [] {
        const struct {
            int from;
            int to;
            const char* label;
        } rows[] = {{1950, 1959, "50er"},   {1960, 1969, "60er"},  {1970, 1979, "70er"},
                    {1980, 1989, "80er"},   {1990, 1999, "90er"},  {2000, 2009, "2000er"},
                    {2010, 2019, "2010er"}, {2020, 2029, "2020er"}};
        QList<DecadeRule> list;
        for (const auto& row : rows) {
            list.append(DecadeRule{QUuid::createUuid(), row.from, row.to, QString::fromUtf8(row.label)});
        }
        return list;
    }();
    return rules;
}

QByteArray encodeDecadeRules(const QList<DecadeRule>& rules) {
    return JsonList::encode(rules);
}

std::optional<QList<DecadeRule>> decodeDecadeRules(const QByteArray& data) {
    return JsonList::decode<DecadeRule>(data);
}

QString decadeLabelForYear(int year, const QList<DecadeRule>& rules) {
    for (const DecadeRule& rule : rules) {
        if (rule.from <= year && year <= rule.to) {
            return rule.label;
        }
    }
    int decade = (year / 10) * 10;
    if (decade < 2000) {
        decade = decade % 100;
    }
    return QString::number(decade) + QStringLiteral("er");
}

bool isUsableDecadeLabel(const QString& label) {
    return !TextUtil::trimWs(label).isEmpty();
}

std::optional<QString> existingDecadeLabel(const QString& genre, const QList<DecadeRule>& rules) {
    for (const DecadeRule& rule : rules) {
        if (isUsableDecadeLabel(rule.label) && genre.contains(rule.label, Qt::CaseSensitive)) {
            return rule.label;
        }
    }
    return std::nullopt;
}

bool containsDecadeLabel(const QString& genre, const QList<DecadeRule>& rules) {
    return existingDecadeLabel(genre, rules).has_value();
}

QString composeGenreWithLabel(const QString& genre, const QString& label) {
    const QString trimmed = TextUtil::trimWs(TextUtil::withoutBidiControls(genre));
    if (trimmed.isEmpty()) {
        return label;
    }
    return trimmed + QLatin1Char(' ') + label;
}

bool isPlausibleYear(int year) {
    // The UTC date: the local one looks up the time zone on every call, which
    // the folder scan pays for every file; the two differ for a few hours a year.
    const int current = QDateTime::currentDateTimeUtc().date().year();
    return year >= 1920 && year <= current + 1;
}

std::optional<int> extractYear(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("\\b(19\\d{2}|20\\d{2})\\b"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const int year = match.captured(1).toInt(&ok);
    if (!ok || !isPlausibleYear(year)) {
        return std::nullopt;
    }
    return year;
}
