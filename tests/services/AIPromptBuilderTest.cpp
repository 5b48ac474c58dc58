#include "services/AIPromptBuilder.h"

#include "QtPrinters.h"

#include <QDate>

#include <gtest/gtest.h>

TEST(AIPromptBuilderTest, BlankFieldsAreLeftOutAndYearsAreReadStrictly) {
    const QString blank = AIPromptBuilder::buildYearPrompt("T", "A", "\n", "  ", 2031);
    EXPECT_TRUE(blank.contains("between 1900 and 2031"));
    EXPECT_FALSE(blank.contains("- Album:") || blank.contains("- Filename:"));
    const int y = QDate::currentDate().year();
    const struct {
        QString answer;
        std::optional<int> year;
    } cases[] = {
        {"  \n1987.\r\n", 1987}, {"1987-06-01", 1987}, {"1987 (first pressed in 1987)", 1987},
        {"1987, catalogue 2099", 1987}, {"1920", 1920}, {QString::number(y + 1), y + 1},
        {QString::number(y + 2), {}}, {"1919", {}}, {"1910, re-released 1985", {}}, {"19871", {}}, {"a1987", {}},
        {"The remaster came out in 2011; the original is from 1978.", {}}, {"I think 1987 or 1992", {}},
        {"2099, or 1987", {}}, {"UNKNOWN, maybe 1987", {}}, {"1987 (nicht bekannt)", {}}, {"Keinesfalls 1987", {}},
        {"\u0661\u0669\u0668\u0667", {}}, {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AIPromptBuilder::parseYear(c.answer), c.year) << c.answer.toStdString();
    }
}
