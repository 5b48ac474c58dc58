#pragma once

#include <QString>

#include <optional>

// The two questions put to the AI providers and the reading of their answers.
// Stateless; console lines begin with "[AIPromptBuilder]".
class AIPromptBuilder {
public:
    // The year question. The album and file name lines are left out when the
    // value is empty once blanks and tabs are trimmed (a line break is not a
    // blank); the lines carry the values untrimmed. `currentYear` is the
    // Gregorian year named as the upper bound; the first form uses today's.
    static QString buildYearPrompt(const QString& title, const QString& artist,
                                   const std::optional<QString>& album, const QString& fileName);
    static QString buildYearPrompt(const QString& title, const QString& artist,
                                   const std::optional<QString>& album, const QString& fileName,
                                   int currentYear);

    // The genre question (no file name line).
    static QString buildGenrePrompt(const QString& title, const QString& artist,
                                    const std::optional<QString>& album);

    // The year in a model's answer: none when the answer holds a refusal word,
    // else the first stand-alone 19xx/20xx when it is plausible (a first match
    // that is not plausible gives none; later matches are not tried).
    static std::optional<int> parseYear(const QString& answer);

    // The genre in a model's answer, trimmed of white space and line breaks.
    // Prints `responsePrefix` + the trimmed answer in double quotes. An answer
    // that is empty, holds a line break, is longer than `maxGenreLength`
    // characters or holds a refusal word is no genre name and gives none.
    static std::optional<QString> parseGenre(const QString& answer, const QString& responsePrefix);

    // True when the text, lower-cased, holds "unknown", "nicht bekannt" or
    // "keine" anywhere (also inside a longer word).
    static bool containsRefusal(const QString& text);

    static constexpr int maxGenreLength = 50;
};
