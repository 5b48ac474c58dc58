#pragma once

#include <QString>

#include <optional>

// The two questions put to the AI providers and the reading of their answers.
// Stateless; console lines begin with "[AIPromptBuilder]".
class AIPromptBuilder {
public:
    // The year question. Each value is cut to maxQueryTextLength characters
    // and its control characters (line breaks too) become blanks, so that no
    // value adds lines of its own. The album and file name lines are left out
    // when that value is empty once blanks and tabs are trimmed; the lines
    // carry the values untrimmed. `currentYear` is the
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
    // else the stand-alone 19xx/20xx it names when it is plausible. A first
    // match that is not plausible gives none; later ones that are not are
    // skipped; two different plausible years give none (the user decides).
    static std::optional<int> parseYear(const QString& answer);

    // The genre in a model's answer: checkedGenreName, and none for an answer
    // that holds a refusal word. Prints `responsePrefix` + the trimmed answer
    // (cut to AIExchange::maxMessageChars) in double quotes.
    static std::optional<QString> parseGenre(const QString& answer, const QString& responsePrefix);

    // A genre from any source, trimmed of white space and line breaks; none
    // when that is empty, holds a line break or another control character, or
    // is longer than `maxGenreLength` characters.
    static std::optional<QString> checkedGenreName(const QString& genre);

    // True when the text, lower-cased, holds "unknown", "nicht bekannt" or
    // "keine" anywhere (also inside a longer word).
    static bool containsRefusal(const QString& text);

    static constexpr int maxGenreLength = 50;
};
