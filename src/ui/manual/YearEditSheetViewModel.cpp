#include "ui/manual/YearEditSheetViewModel.h"

#include "model/AppLanguage.h"
#include "model/TextUtil.h"
#include "services/AIServiceFactory.h"

#include <QDate>

#include <limits>
#include <numeric>

QString YearEditSheetViewModel::displayName(InputMode mode) {
    return mode == InputMode::year ? localizedText(QStringLiteral("Jahr"), QStringLiteral("Year"))
                                   : localizedText(QStringLiteral("Jahrzehnt"), QStringLiteral("Decade"));
}

YearEditSheetViewModel::YearEditSheetViewModel(MusicFile file, SettingsSource settings, QObject* parent)
    : QObject(parent), m_file(std::move(file)),
      m_settings(settings ? std::move(settings) : sharedSettingsSource()) {}

QList<DecadeRule> YearEditSheetViewModel::rules() const {
    return m_settings()->decadeRules;
}

std::optional<qint64> YearEditSheetViewModel::parseYear(const QString& text) {
    return TextUtil::parseWholeNumber(TextUtil::trimWs(text));
}

bool YearEditSheetViewModel::isPlausible(qint64 year) {
    return year >= std::numeric_limits<int>::min() && year <= std::numeric_limits<int>::max() &&
           isPlausibleYear(int(year));
}

std::optional<qint64> YearEditSheetViewModel::yearForDecadeLabel(const QString& label,
                                                                 const QList<DecadeRule>& rules) {
    for (const DecadeRule& rule : rules) {
        if (rule.label == label) {
            return std::midpoint(rule.from, rule.to);
        }
    }
    QString digits = label;
    digits.remove(QStringLiteral("er"), Qt::CaseSensitive);
    const std::optional<qint64> n = parseYear(digits);
    if (!n) {
        return std::nullopt;
    }
    if (*n < 100) {
        return *n + 1905;
    }
    if (*n > std::numeric_limits<qint64>::max() - 5) {
        return std::nullopt;
    }
    return *n + 5;
}

void YearEditSheetViewModel::setYearText(const QString& text) {
    if (text == m_yearText) {
        return;
    }
    m_yearText = text;
    validateYear(text);
    Q_EMIT changed();
}

void YearEditSheetViewModel::setSelectedDecade(const QString& label) {
    if (label != m_selectedDecade) {
        m_selectedDecade = label;
        Q_EMIT changed();
    }
}

void YearEditSheetViewModel::setInputMode(InputMode mode) {
    if (mode != m_inputMode) {
        m_inputMode = mode;
        Q_EMIT changed();
    }
}

std::optional<qint64> YearEditSheetViewModel::parsedYear() const {
    return m_inputMode == InputMode::year ? parseYear(m_yearText) : std::nullopt;
}

bool YearEditSheetViewModel::isValid() const {
    return yearToSave().has_value();
}

std::optional<int> YearEditSheetViewModel::yearToSave() const {
    if (m_inputMode == InputMode::year) {
        const std::optional<qint64> year = parsedYear();
        return year && isPlausible(*year) ? std::optional<int>(int(*year)) : std::nullopt;
    }
    if (m_selectedDecade.isEmpty()) {
        return std::nullopt;
    }
    const QList<DecadeRule> r = rules();
    if (m_prefilledYear && isPlausible(*m_prefilledYear) &&
        decadeLabelForYear(*m_prefilledYear, r) == m_selectedDecade) {
        return m_prefilledYear;
    }
    const std::optional<qint64> year = yearForDecadeLabel(m_selectedDecade, r);
    return year && isPlausible(*year) ? std::optional<int>(int(*year)) : std::nullopt;
}

std::optional<QString> YearEditSheetViewModel::previewLabel() const {
    if (m_inputMode == InputMode::decade) {
        return m_selectedDecade.isEmpty() ? std::nullopt : std::optional<QString>(m_selectedDecade);
    }
    const std::optional<qint64> year = parsedYear();
    if (!year || !isPlausible(*year)) {
        return std::nullopt;
    }
    return decadeLabelForYear(int(*year), rules());
}

std::optional<TagUpdateService::GenrePlan> YearEditSheetViewModel::genrePreview() const {
    const std::optional<int> year = yearToSave();
    if (!year) {
        return std::nullopt;
    }
    MusicFile planned = m_file;
    planned.manualYear = year;
    return TagUpdateService::plannedGenre(planned, *m_settings());
}

void YearEditSheetViewModel::prefill() {
    const std::optional<int> year = m_file.effectiveYear();
    if (!year) {
        return;
    }
    m_prefilledYear = year;
    m_selectedDecade = decadeLabelForYear(*year, rules());
    m_yearText = QString::number(*year);
    validateYear(m_yearText);
    Q_EMIT changed();
}

void YearEditSheetViewModel::validateYear(const QString& text) {
    const QString trimmed = TextUtil::trimWs(text);
    const std::optional<qint64> year = parseYear(trimmed);
    if (trimmed.isEmpty() || (year && isPlausible(*year))) {
        m_yearError.reset();
    } else if (!year) {
        m_yearError = localizedText(QStringLiteral("Bitte eine gültige Jahreszahl eingeben."),
                                    QStringLiteral("Please enter a valid year."));
    } else {
        const QString last = QString::number(QDate::currentDate().year() + 1);
        m_yearError =
            localizedText(QStringLiteral("Jahr muss zwischen 1920 und ") + last + QStringLiteral(" liegen."),
                          QStringLiteral("Year must be between 1920 and ") + last + QLatin1Char('.'));
    }
    Q_EMIT changed();
}

QStringList YearEditSheetViewModel::decadeLabels() const {
    QStringList labels;
    for (const DecadeRule& rule : rules()) {
        if (!rule.label.isEmpty()) {
            labels.append(rule.label);
        }
    }
    return labels;
}
