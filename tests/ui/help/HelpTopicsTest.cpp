#include "ui/help/HelpTopics.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

TEST(HelpTopicsTest, SectionsCountNotesAndTipsInOrder) {
    const auto& topics = helpTopics();
    QString flags; // per section: its item count, then n/t and the position of each note and tip
    for (const HelpTopic& topic : topics) {
        for (const HelpSection& section : topic.sections) {
            flags += QString::number(section.items.size());
            for (int i = 0; i < section.items.size(); ++i) {
                const HelpItem& item = section.items.at(i);
                EXPECT_FALSE(item.isNote && item.isTip);
                if (item.isNote || item.isTip) {
                    flags += (item.isNote ? QLatin1Char('n') : QLatin1Char('t')) + QString::number(i + 1);
                }
            }
            flags += QLatin1Char(' ');
        }
    }
    EXPECT_EQ(topics.size(), 7);
    EXPECT_EQ(flags, QStringLiteral("2n2 4n4 5t3n5 5t5 4 6t3t6 2n2 3n3 3t2t3 3 2 2 5t3 4n2t3 6n3n4n5n6 3n2 "
                                    "7n1t3t5 3n2 3t2 6t6 3n3 2t2 1t1 2 2n2 1 2n2 2 "));
    EXPECT_EQ(
        topics.at(0).sections.at(0).items.at(1).textLS.en,
        "Supported formats: MP3, FLAC, M4A, AAC, AIFF, WAV. OGG, OPUS and WMA can be read but not written "
        "(shown in orange in the table).");
    // Quick Start names the button that reads the chosen folder.
    const TextPair& quickStart = topics.at(0).sections.at(1).items.at(1).textLS;
    EXPECT_TRUE(quickStart.de.contains("wählst du einen Ordner, liest ihn mit **Scannen** ein,"));
    EXPECT_TRUE(quickStart.en.contains("you choose a folder, read it with **Scan**,"));
    EXPECT_EQ(topics.at(5).sections.at(2).items.at(1).textLS.de,
              "Die Bereinigung betrifft nur die Datenbanksuche – der Titel in der Datei selbst wird nicht "
              "verändert.");
}
