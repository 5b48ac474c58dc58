#include "QtPrinters.h"

#include "model/AppSettings.h"
#include "services/AIServiceFactory.h"
#include "ui/manual/YearEditSheetViewModel.h"

#include <QDate>

#include <gtest/gtest.h>

namespace {

using Mode = YearEditSheetViewModel::InputMode;

struct YearCase {
    const char* what;
    std::optional<int> manual, discovered, tag; // the file's years (prefill)
    Mode mode;
    QString typed;  // typed after the prefill; null leaves the prefill
    QString decade; // chosen label; null leaves the prefill
    std::optional<qint64> parsed;
    std::optional<QString> preview;
    std::optional<int> saved; // what Save hands; none: Save disabled
    QString error;            // English message under the field
};

} // namespace

TEST(YearEditSheetViewModelTest, ParsesValidatesPreviewsAndSaves) {
    const int thisYear = QDate::currentDate().year();
    const QString next = QString::number(thisYear + 1);
    const QString range = QStringLiteral("Year must be between 1920 and ") + next + QLatin1Char('.');
    const QString invalid = QStringLiteral("Please enter a valid year.");
    const QString nextLabel = decadeLabelForYear(thisYear + 1, defaultDecadeRules());
    // clang-format off
    const YearCase cases[] = {
        {"no year opens empty", {}, {}, {}, Mode::year, {}, {}, {}, {}, {}, {}},
        {"manual before found", 1992, 1987, {}, Mode::year, {}, {}, 1992, "90er", 1992, {}},
        {"tag year alone", {}, {}, 2003, Mode::year, {}, {}, 2003, "2000er", 2003, {}},
        {"no-break space and tab trimmed", {}, {}, {}, Mode::year, "\u00a01987\t", {}, 1987, "80er", 1987, {}},
        {"a trailing line break is no year", {}, {}, {}, Mode::year, "1987\n", {}, {}, {}, {}, invalid},
        {"blank inside", {}, {}, {}, Mode::year, "19 87", {}, {}, {}, {}, invalid},
        {"plus sign", {}, {}, {}, Mode::year, "+1987", {}, 1987, "80er", 1987, {}},
        {"negative", {}, {}, {}, Mode::year, "-1987", {}, -1987, {}, {}, range},
        {"2^32 + 2000 is not 2000", {}, {}, {}, Mode::year, "4294969296", {}, 4294969296LL, {}, {}, range},
        {"beyond 64 bits", {}, {}, {}, Mode::year, "9223372036854775808", {}, {}, {}, {}, invalid},
        {"1919", {}, {}, {}, Mode::year, "1919", {}, 1919, {}, {}, range},
        {"next year", {}, {}, {}, Mode::year, next, {}, thisYear + 1, nextLabel, thisYear + 1, {}},
        {"the year after", {}, {}, {}, Mode::year, QString::number(thisYear + 2), {}, thisYear + 2, {}, {}, range},
        {"implausible tag year prefilled", {}, {}, 1850, Mode::year, {}, {}, 1850, {}, {}, range},
        {"its label in decade mode", {}, {}, 1850, Mode::decade, {}, {}, {}, "50er", 1954, range},
        {"decade mode ignores the text", {}, {}, {}, Mode::decade, "abc", "80er", {}, "80er", 1984, invalid},
        {"the chosen label of a found year keeps the year", {}, 1987, {}, Mode::decade, {}, {}, {}, "80er", 1987, {}},
        {"another label gives its middle", {}, 1987, {}, Mode::decade, {}, "90er", {}, "90er", 1994, {}},
        {"2000er", {}, {}, {}, Mode::decade, {}, "2000er", {}, "2000er", 2004, {}},
        {"label without a rule", {}, {}, 1935, Mode::decade, {}, {}, {}, "30er", 1935, {}},
        {"40er", {}, {}, {}, Mode::decade, {}, "40er", {}, "40er", 1945, {}},
        {"label with no year disables Save", {}, {}, {}, Mode::decade, {}, "Disco", {}, "Disco", {}, {}},
        {"label giving an implausible year", {}, {}, {}, Mode::decade, {}, "0er", {}, "0er", {}, {}},
        {"nothing chosen", {}, {}, {}, Mode::decade, {}, "", {}, {}, {}, {}},
    };
    // clang-format on
    AppSettings::shared().setAppLanguage(AppLanguage::english);
    const auto defaults =
        fixedSettingsSource(std::make_shared<SettingsSnapshot>(SettingsSnapshot::defaults()));
    for (const YearCase& c : cases) {
        SCOPED_TRACE(c.what);
        MusicFile file;
        file.manualYear = c.manual;
        file.discoveredYear = c.discovered;
        file.year = c.tag;
        YearEditSheetViewModel model(file, defaults);
        model.prefill();
        if (!c.typed.isNull()) {
            model.setYearText(c.typed);
        }
        if (!c.decade.isNull()) {
            model.setSelectedDecade(c.decade);
        }
        model.setInputMode(c.mode);
        if (c.mode == Mode::year) {
            EXPECT_EQ(model.parsedYear(), c.parsed);
        }
        EXPECT_EQ(model.previewLabel(), c.preview);
        EXPECT_EQ(model.yearToSave(), c.saved);
        EXPECT_EQ(model.isValid(), c.saved.has_value());
        EXPECT_EQ(model.yearError().value_or(QString()), c.error);
    }
    // The preview says what the write will do: a labelled genre is kept and the file skipped.
    const struct {
        const char* genre;
        std::optional<int> tag;
        std::optional<QString> written, skippedFor;
    } previews[] = {{"House 80er", 1985, {}, "80er"},
                    {"House", 1985, "House 90er", {}},
                    {"80er", {}, "90er", {}}}; // a lone label without a year tag is replaced
    for (const auto& p : previews) {
        MusicFile file;
        file.genre = QString::fromUtf8(p.genre);
        file.year = p.tag;
        YearEditSheetViewModel model(file, defaults);
        model.setYearText(QStringLiteral("1995"));
        const auto plan = model.genrePreview();
        ASSERT_TRUE(plan.has_value()) << p.genre;
        EXPECT_EQ(plan->genre, p.written) << p.genre;
        EXPECT_EQ(plan->label, p.skippedFor) << p.genre;
    }
    YearEditSheetViewModel model(MusicFile{}); // clearing the field removes the message
    model.setYearText(QStringLiteral("x"));
    model.setYearText(QString());
    EXPECT_FALSE(model.yearError());
    // A rule at the ends of the integer range has a middle.
    const QList<DecadeRule> extreme = {{QUuid(), INT_MIN, INT_MAX, QStringLiteral("all")}};
    EXPECT_EQ(YearEditSheetViewModel::yearForDecadeLabel(QStringLiteral("all"), extreme), -1);
}
