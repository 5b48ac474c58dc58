#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// One row of the year-to-label table: years from..to (inclusive) get `label`.
struct DecadeRule {
    QUuid id;
    int from = 0;
    int to = 0;
    QString label;

    bool operator==(const DecadeRule&) const = default;

    QJsonObject toJson() const;
    // Strict: all four keys with the right types and a valid UUID, else no value.
    static std::optional<DecadeRule> fromJson(const QJsonObject& object);
};

// The eight built-in rules (1950s to 2020s), made once per run with the same ids.
const QList<DecadeRule>& defaultDecadeRules();

// JSON array form of a rule list (compact) and its strict decoding: one bad
// element fails the whole list.
QByteArray encodeDecadeRules(const QList<DecadeRule>& rules);
std::optional<QList<DecadeRule>> decodeDecadeRules(const QByteArray& data);

// The label of the first rule holding the year, else the decade fallback ("40er", "2030er").
QString decadeLabelForYear(int year, const QList<DecadeRule>& rules);

// The label of the first rule whose (non-blank) label occurs in the genre, case-sensitively.
std::optional<QString> existingDecadeLabel(const QString& genre, const QList<DecadeRule>& rules);
bool containsDecadeLabel(const QString& genre, const QList<DecadeRule>& rules);

// Whether a label can occur in a genre at all: an empty or all-blank label never does.
bool isUsableDecadeLabel(const QString& label);

// The genre without bidirectional controls (which would show the label
// reversed) and trimmed, a blank and the label; the label alone for a blank genre.
QString composeGenreWithLabel(const QString& genre, const QString& label);

// 1920 <= year <= the current Gregorian year + 1.
bool isPlausibleYear(int year);

// The first stand-alone 19xx/20xx in a text, when it is plausible.
std::optional<int> extractYear(const QString& text);
