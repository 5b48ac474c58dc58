#include "ui/help/HelpView.h"

#include "QtPrinters.h"
#include "TestHelpers.h"
#include "model/AppSettings.h"
#include "ui/help/HelpTopics.h"

#include <QLabel>
#include <QTextDocument>

#include <gtest/gtest.h>

TEST(HelpViewTest, ItemsAreMarkdownHeadingsPlainAndNoTopicShowsThePlaceholder) {
    AppSettings::shared().setAppLanguage(AppLanguage::english);
    HelpView view(helpTopics().first().id);
    const auto items = view.findChildren<QLabel*>(QStringLiteral("helpItem"));
    ASSERT_EQ(items.size(), 6); // topic 1: 2 + 4 items
    for (const QLabel* item : items) {
        EXPECT_EQ(item->textFormat(), Qt::MarkdownText);
    }
    for (const QLabel* heading : view.findChildren<QLabel*>(QStringLiteral("sectionHeading"))) {
        EXPECT_EQ(heading->textFormat(), Qt::PlainText);
    }
    // Item texts are inline Markdown only: a leading "1. " stays text, no list.
    view.selectTopic(helpTopics().at(5).id);
    QTextDocument first;
    first.setMarkdown(view.findChildren<QLabel*>(QStringLiteral("helpItem")).at(0)->text());
    EXPECT_TRUE(first.toPlainText().startsWith(QStringLiteral("1. Existing year tag")))
        << first.toPlainText().toStdString();
    for (const HelpTopic& topic : helpTopics()) { // bold and italic words show without their asterisks
        view.selectTopic(topic.id);
        for (const QLabel* item : view.findChildren<QLabel*>(QStringLiteral("helpItem"))) {
            QTextDocument shown;
            shown.setMarkdown(item->text());
            EXPECT_FALSE(shown.toPlainText().contains(QLatin1Char('*'))) << shown.toPlainText().toStdString();
        }
    }

    view.selectTopic(std::nullopt);
    EXPECT_EQ(view.selectedTopic(), std::nullopt);
    EXPECT_EQ(textsOf(view.findChildren<QLabel*>(QStringLiteral("placeholderTitle"))),
              QStringList{"Choose a Topic"});
}
