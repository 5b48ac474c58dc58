#include "services/AIPromptBuilder.h"

#include "QtPrinters.h"

#include <QDate>

#include <gtest/gtest.h>

namespace {

const char* const yearInstructions =
    "\n\nInstructions:\n"
    "- Respond with ONLY the 4-digit year (e.g. 1987) or the word \"unknown\" if "
    "you are not sure.\n"
    "- Do not include any explanation, punctuation, or other text.\n"
    "- The year must be between 1900 and 2031.";

const char* const genreInstructions =
    "\n\nInstructions:\n"
    "- Respond with ONLY the genre name (e.g. \"Pop\", \"Rock\", \"Hip Hop\", "
    "\"Electronic\", \"House\").\n"
    "- Use 1-3 words maximum. No explanation, no punctuation.";

QString u(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace

TEST(AIPromptBuilder, ParseYearTable) {
    const int y = QDate::currentDate().year();
    const QString next = QString::number(y + 1);
    const QString afterNext = QString::number(y + 2);
    struct Case {
        QString answer;
        std::optional<int> expected;
    };
    const std::vector<Case> cases{
        {u("1987"), 1987},
        {u("  \n1987.\r\n"), 1987},
        {u("The song was released in 2003"), 2003},
        {u("1920"), 1920},
        {u("1919"), std::nullopt},
        {u("1910, re-released 1985"), std::nullopt}, // the first match decides
        {u("19871"), std::nullopt},                  // no word boundary after four digits
        {u("a1987"), std::nullopt},
        {u("1899"), std::nullopt},
        {next, y + 1},
        {afterNext, std::nullopt},
        {u("Unknown"), std::nullopt},
        {u("UNKNOWN, maybe 1987"), std::nullopt},
        {u("1987 (nicht bekannt)"), std::nullopt},
        {u("Keinesfalls 1987"), std::nullopt},         // "keine" inside a longer word
        {u("\u0661\u0669\u0668\u0667"), std::nullopt}, // Arabic-Indic digits are no decimal year
        {u(""), std::nullopt},
        {u("no idea"), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AIPromptBuilder::parseYear(c.answer), c.expected) << c.answer.toStdString();
    }
}
