#include "ui/manual/YearEditSheet.h"

#include "QtPrinters.h"
#include "model/AppSettings.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextDocumentFragment>

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

// Names and tags with markup are shown as they are, cut or whole, and so is the
// whole text in the tooltip of a cut one.
TEST(YearEditSheetTest, MarkupInNamesAndTagsIsShownLiterally) {
    MusicFile file;
    file.url = QStringLiteral("/music/<b>x<i> &amp; a name long enough to be cut in the middle.mp3");
    file.title = QStringLiteral("<b>Title</b> <img src=\"file:///x.png\">").repeated(4);
    YearEditSheet sheet(file, [](std::optional<int>) {});
    sheet.show();
    int cuts = 0;
    for (const int width : {1600, 300}) {
        sheet.resize(width, sheet.height());
        QCoreApplication::processEvents();
        for (const auto& [name, full] :
             {std::pair{"fileName", file.url.section('/', -1)}, {"info0", file.title}}) {
            auto* label = sheet.findChild<QLabel*>(QLatin1String(name));
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << name;
            const bool cut = label->text() != full;
            cuts += cut;
            EXPECT_TRUE(cut ? label->text().contains(QChar(0x2026)) : label->toolTip().isEmpty()) << name;
            if (cut) {
                EXPECT_EQ(QTextDocumentFragment::fromHtml(label->toolTip()).toPlainText(), full) << name;
            }
        }
    }
    EXPECT_GT(cuts, 0);
}
