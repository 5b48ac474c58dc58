#include "ui/manual/YearEditSheet.h"

#include "QtPrinters.h"
#include "model/AppSettings.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

TEST(YearEditSheetTest, ReturnNeverSkipsAndPrefillsHandTheirYear) {
    const struct {
        std::optional<int> tag;
        const char* typed; // into the field, or null
        bool decadeMode;
        int how; // 0: Return, 1: Return on the focused Skip button, 2: a click on Skip
        std::optional<std::optional<int>> handed; // what the sheet hands; none: nothing
    } cases[] = {
        {{}, "abc", false, 0, {}},
        {{}, "abc", false, 1, {}},
        {{}, "1987", false, 1, std::optional<int>(1987)},
        {1935, nullptr, true, 0, std::optional<int>(1935)},
        {1850, nullptr, false, 0, {}},
        {1850, nullptr, true, 0, std::optional<int>(1954)},
        {1987, nullptr, false, 2, std::optional<int>()},
    };
    for (const auto& c : cases) {
        MusicFile file;
        file.year = c.tag;
        file.genre = QStringLiteral("House");
        std::optional<std::optional<int>> handed;
        YearEditSheet sheet(file, [&](std::optional<int> year) { handed = year; });
        sheet.show();
        if (c.typed) {
            QTest::keyClicks(sheet.findChild<QLineEdit*>(), QLatin1String(c.typed));
        }
        if (c.decadeMode) {
            sheet.viewModel().setInputMode(YearEditSheetViewModel::InputMode::decade);
        }
        if (c.typed && QLatin1String(c.typed) == QLatin1String("1987")) {
            EXPECT_EQ(sheet.findChild<QLabel*>("newGenre")->text(), QStringLiteral("House 80er"));
        }
        QPushButton* skip = sheet.findChild<QPushButton*>("skipButton");
        if (c.how == 2) {
            skip->click();
        } else { // Return on Skip reaches the dialog, whose only default is Save
            QTest::keyClick(c.how == 1 ? static_cast<QWidget*>(skip) : &sheet, Qt::Key_Return);
        }
        EXPECT_EQ(handed, c.handed);
        EXPECT_EQ(sheet.isVisible(), !c.handed.has_value());
        if (sheet.isVisible()) {
            QTest::keyClick(&sheet, Qt::Key_Escape);
            EXPECT_FALSE(sheet.isVisible());
            EXPECT_EQ(handed, c.handed);
        }
    }
}
