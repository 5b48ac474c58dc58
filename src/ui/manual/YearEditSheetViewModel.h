#pragma once

#include "model/DecadeRule.h"
#include "model/MusicFile.h"
#include "services/AIService.h"
#include "services/TagUpdateService.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

// The input of the year sheet: a year typed by hand or a decade label chosen
// from the decade rules, its validation message, the decade it previews and
// the year Save hands to the caller.
//
// Years are read into 64 bits and checked before they are narrowed, so a
// huge number can never wrap into the plausible range.
class YearEditSheetViewModel : public QObject {
    Q_OBJECT
public:
    enum class InputMode { year, decade };
    static QString displayName(InputMode mode);

    // `settings` gives the decade rules; the shared settings when empty.
    explicit YearEditSheetViewModel(MusicFile file, SettingsSource settings = {}, QObject* parent = nullptr);

    const MusicFile& file() const { return m_file; }
    const QString& yearText() const { return m_yearText; }
    // Also re-validates the text when it changed.
    void setYearText(const QString& text);
    const QString& selectedDecade() const { return m_selectedDecade; }
    void setSelectedDecade(const QString& label);
    InputMode inputMode() const { return m_inputMode; }
    void setInputMode(InputMode mode);
    const std::optional<QString>& yearError() const { return m_yearError; }

    // The typed year in year mode; none in decade mode or for text that is no integer.
    std::optional<qint64> parsedYear() const;
    // Save may be pressed: a plausible typed year, or a chosen label that stands for a plausible year.
    bool isValid() const;
    std::optional<QString> previewLabel() const;
    // What the next write does with the year Save hands over: the genre it
    // writes, or none and the label the genre already carries (the file is
    // then skipped and keeps its genre). None while Save is not possible.
    std::optional<TagUpdateService::GenrePlan> genrePreview() const;
    // Fills the field and the chosen decade from the file's first year (manual, found, tag).
    void prefill();
    // Sets or clears the message under the year field for `text`.
    void validateYear(const QString& text);
    // What Save hands to the caller; none while Save is not possible. In
    // decade mode a plausible prefilled year whose label is still chosen is
    // handed unchanged rather than the middle of its decade.
    std::optional<int> yearToSave() const;
    // The labels the decade picker offers, in rule order (empty labels left out).
    QStringList decadeLabels() const;

    // An optional sign and ASCII digits, after blanks and tabs are trimmed
    // from both ends (line breaks stay); none for anything else or outside 64 bits.
    static std::optional<qint64> parseYear(const QString& text);
    // The year a decade label stands for: the middle of the first rule with
    // that label, else the number in the label ("80er" gives 1985, "2010er" 2015).
    static std::optional<qint64> yearForDecadeLabel(const QString& label, const QList<DecadeRule>& rules);
    static bool isPlausible(qint64 year);

Q_SIGNALS:
    void changed();

private:
    QList<DecadeRule> rules() const;

    MusicFile m_file;
    SettingsSource m_settings;
    QString m_yearText;
    QString m_selectedDecade;
    InputMode m_inputMode = InputMode::year;
    std::optional<QString> m_yearError;
    std::optional<int> m_prefilledYear;
};
