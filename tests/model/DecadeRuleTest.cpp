#include "model/DecadeRule.h"

#include <QDate>

#include <gtest/gtest.h>

namespace {

DecadeRule rule(int from, int to, const QString& label) {
    return DecadeRule{QUuid::createUuid(), from, to, label};
}

} // namespace

TEST(DecadeRule, LabelsFromRulesAndFallbackArithmetic) {
    const auto& rules = defaultDecadeRules();
    EXPECT_EQ(decadeLabelForYear(1959, rules), QStringLiteral("50er"));
    EXPECT_EQ(decadeLabelForYear(1960, rules), QStringLiteral("60er"));
    EXPECT_EQ(decadeLabelForYear(1987, rules), QStringLiteral("80er"));
    EXPECT_EQ(decadeLabelForYear(2029, rules), QStringLiteral("2020er"));
    // No rule: decade, reduced modulo 100 below 2000 (sign follows the decade).
    EXPECT_EQ(decadeLabelForYear(1949, rules), QStringLiteral("40er"));
    EXPECT_EQ(decadeLabelForYear(1905, rules), QStringLiteral("0er"));
    EXPECT_EQ(decadeLabelForYear(2031, rules), QStringLiteral("2030er"));
    EXPECT_EQ(decadeLabelForYear(1899, {}), QStringLiteral("90er"));
    EXPECT_EQ(decadeLabelForYear(2000, {}), QStringLiteral("2000er"));
    EXPECT_EQ(decadeLabelForYear(850, {}), QStringLiteral("50er"));
    EXPECT_EQ(decadeLabelForYear(-15, {}), QStringLiteral("-10er"));
}

TEST(DecadeRule, CustomRulesIncludeBothEndsAndTheFirstMatchWins) {
    const QList<DecadeRule> rules{rule(1980, 1989, "Eighties"), rule(1985, 1990, "Late80s")};
    EXPECT_EQ(decadeLabelForYear(1980, rules), QStringLiteral("Eighties"));
    EXPECT_EQ(decadeLabelForYear(1987, rules), QStringLiteral("Eighties"));
    EXPECT_EQ(decadeLabelForYear(1989, rules), QStringLiteral("Eighties"));
    EXPECT_EQ(decadeLabelForYear(1990, rules), QStringLiteral("Late80s"));
    EXPECT_EQ(decadeLabelForYear(1991, rules), QStringLiteral("90er"));
}

TEST(DecadeRule, ExistingLabelIsCaseSensitiveAndInRuleOrder) {
    const auto& rules = defaultDecadeRules();
    EXPECT_EQ(existingDecadeLabel("House 2000er", rules), QStringLiteral("2000er"));
    EXPECT_FALSE(existingDecadeLabel("House 80ER", rules).has_value());
    EXPECT_EQ(existingDecadeLabel("Electro 1990er", rules), QStringLiteral("90er"));
    EXPECT_FALSE(containsDecadeLabel("House", {}));
}

TEST(DecadeRule, BlankLabelsNeverOccurInAGenre) {
    const QList<DecadeRule> rules{rule(1970, 1979, ""), rule(1980, 1989, " \t"), rule(1990, 1999, "90er")};
    EXPECT_FALSE(containsDecadeLabel("House", rules));
    EXPECT_EQ(existingDecadeLabel("House 90er", rules), QStringLiteral("90er"));
}

TEST(DecadeRule, PlausibleYearBounds) {
    const int y = QDate::currentDate().year();
    EXPECT_FALSE(isPlausibleYear(1919));
    EXPECT_TRUE(isPlausibleYear(1920));
    EXPECT_TRUE(isPlausibleYear(y + 1));
    EXPECT_FALSE(isPlausibleYear(y + 2));
}

TEST(DecadeRule, ExtractYearTakesOnlyTheFirstCandidate) {
    EXPECT_EQ(extractYear("Live at Wembley 1985 remaster"), 1985);
    EXPECT_EQ(extractYear("1985-03-01"), 1985);
    EXPECT_FALSE(extractYear("19851").has_value());
    EXPECT_FALSE(extractYear("1985s").has_value());
    EXPECT_FALSE(extractYear("2099 then 1985").has_value());
    EXPECT_FALSE(extractYear("1899").has_value());
    EXPECT_FALSE(extractYear("").has_value());
}

TEST(DecadeRule, JsonRoundTripAndStrictDecoding) {
    const QByteArray data = encodeDecadeRules(defaultDecadeRules());
    const auto decoded = decodeDecadeRules(data);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, defaultDecadeRules());
    EXPECT_FALSE(decodeDecadeRules(R"([{"id":"not-a-uuid","from":1,"to":2,"label":"x"}])").has_value());
    EXPECT_FALSE(decodeDecadeRules(
                     R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","from":"1980","to":1989,"label":"x"}])")
                     .has_value());
    for (const char* body : {R"("from":1980,"to":1989)", R"("from":1980.5,"to":1989,"label":"x")",
                             R"("from":1980,"to":1989.5,"label":"x")"}) {
        EXPECT_FALSE(
            decodeDecadeRules(QByteArray(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF",)") + body + "}]")
                .has_value())
            << body;
    }
    const auto one = decodeDecadeRules(
        R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","from":1980,"to":1990,"label":"80s"}])");
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(one->first().to, 1990);
    EXPECT_TRUE(decodeDecadeRules("[]").has_value());
}
