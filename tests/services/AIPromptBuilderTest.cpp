#include "services/AIPromptBuilder.h"

#include "model/TextUtil.h"

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

TEST(AIPromptBuilder, YearPromptGoldenTexts) {
    struct Case {
        const char* name;
        QString title, artist;
        std::optional<QString> album;
        QString fileName;
        QString expectedSongLines;
    };
    const std::vector<Case> cases{
        {"all fields", u("Take On Me"), u("a-ha"), u("Hunting High and Low"), u("01 Take On Me.mp3"),
         u("- Title: Take On Me\n- Artist: a-ha\n- Album: Hunting High and Low\n- Filename: 01 Take On "
           "Me.mp3")},
        {"no album", u("T"), u("A"), std::nullopt, u("t.flac"),
         u("- Title: T\n- Artist: A\n- Filename: t.flac")},
        {"album and file name of blanks and tabs", u("T"), u("A"), u(" \t\u00a0"), u("  "),
         u("- Title: T\n- Artist: A")},
        {"album of a line break is a blank, left out; file name kept untrimmed", u("T"), u("A"), u("\n"),
         u(" f.mp3 "), u("- Title: T\n- Artist: A\n- Filename:  f.mp3 ")},
        {"empty title and artist keep their lines", u(""), u(""), u(""), u(""), u("- Title: \n- Artist: ")},
    };
    for (const Case& c : cases) {
        const QString expected = u("What is the original release year of this song?\n\nSong information:\n") +
                                 c.expectedSongLines + u(yearInstructions);
        EXPECT_EQ(AIPromptBuilder::buildYearPrompt(c.title, c.artist, c.album, c.fileName, 2031), expected)
            << c.name;
    }
    // Without an explicit year the bound is this year.
    EXPECT_TRUE(
        AIPromptBuilder::buildYearPrompt(u("T"), u("A"), std::nullopt, u(""))
            .endsWith(u("between 1900 and ") + QString::number(QDate::currentDate().year()) + u(".")));
}

TEST(AIPromptBuilder, GenrePromptGoldenTexts) {
    EXPECT_EQ(AIPromptBuilder::buildGenrePrompt(u("Blue Monday"), u("New Order"), u("Substance")),
              u("What is the primary music genre of this song?\n\nSong information:\n- Title: Blue Monday\n"
                "- Artist: New Order\n- Album: Substance") +
                  u(genreInstructions));
    EXPECT_EQ(
        AIPromptBuilder::buildGenrePrompt(u(""), u("A"), u("  ")),
        u("What is the primary music genre of this song?\n\nSong information:\n- Title: \n- Artist: A") +
            u(genreInstructions));
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

TEST(AIPromptBuilder, ParseYearNamesTheImplausibleFirstMatch) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(AIPromptBuilder::parseYear(u("1910 or 1985")), std::nullopt);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[AIPromptBuilder] Parsed year 1910 is not plausible, ignoring\n");
}

TEST(AIPromptBuilder, ParseGenreKeepsNamesAndRejectsSentences) {
    struct Case {
        QString answer;
        std::optional<QString> expected;
    };
    const std::vector<Case> cases{
        {u(" House \n"), u("House")},
        {u("\"Synth-Pop\""), u("\"Synth-Pop\"")}, // quotes stay
        {u("hip hop"), u("hip hop")},             // case stays
        {u(" \n\t\u2029"), std::nullopt},         // white space only
        {u("Rock\nPop"), std::nullopt},           // several lines
        {u("Rock\u2028Pop"), std::nullopt},
        {u("<think>\nThe user asks</think>\nPop"), std::nullopt},
        {QString(50, u'x'), QString(50, u'x')},
        {QString(51, u'x'), std::nullopt},
        {u("Unknown"), std::nullopt},
        {u("Genre nicht bekannt"), std::nullopt},
        {u("Keine Angabe"), std::nullopt},
        {u("I'm not sure what genre this song belongs to, sorry"), std::nullopt},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(AIPromptBuilder::parseGenre(c.answer, u("[X] Genre response: ")), c.expected)
            << c.answer.toStdString();
        // The trimmed answer is always shown, also when it is dropped.
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  (u("[X] Genre response: \"") + TextUtil::escapeControls(c.answer.trimmed()) + u("\"\n"))
                      .toStdString());
    }
}
