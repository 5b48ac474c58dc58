#include "services/AIPromptBuilder.h"

#include "QtPrinters.h"

#include <QDate>

#include <gtest/gtest.h>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace

// The fields the provider needs; a blank album or file name is left out.
TEST(AIPromptBuilder, PromptsCarryTheSongFieldsAndLeaveBlanksOut) {
    const QString year =
        AIPromptBuilder::buildYearPrompt(u("Take On Me"), u("a-ha"), u("Hunting"), u("t.mp3"), 2031);
    for (const char* part :
         {"original release year", "- Title: Take On Me\n- Artist: a-ha\n- Album: Hunting\n",
          "- Filename: t.mp3", "between 1900 and 2031"}) {
        EXPECT_TRUE(year.contains(u(part))) << part;
    }
    const QString blank = AIPromptBuilder::buildYearPrompt(u("T"), u("A"), u("\n"), u("  "), 2031);
    EXPECT_FALSE(blank.contains(u("- Album:")) || blank.contains(u("- Filename:")));
    EXPECT_TRUE(AIPromptBuilder::buildGenrePrompt(u("Blue Monday"), u("New Order"), std::nullopt)
                    .contains(u("primary music genre of this song?\n\nSong information:\n- Title: Blue "
                                "Monday\n- Artist: New Order")));
}

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
