#pragma once

#include <QList>
#include <QString>
#include <QUuid>

// A German and an English text; the shown one is picked at draw time.
struct TextPair {
    QString de;
    QString en;
    QString localized() const;
};

struct HelpItem {
    QUuid id;
    TextPair textLS;
    bool isNote = false;
    bool isTip = false;
    // Inline Markdown (links, emphasis).
    QString text() const { return textLS.localized(); }
};

struct HelpSection {
    QUuid id;
    TextPair headingLS;
    QList<HelpItem> items;
    QString heading() const { return headingLS.localized(); }
};

struct HelpTopic {
    QUuid id;
    // Symbol name, see Look::symbolIcon().
    QString icon;
    TextPair titleLS;
    QList<HelpSection> sections;
    QString title() const { return titleLS.localized(); }
};

// The bilingual handbook, built once per process (safe from any thread).
const QList<HelpTopic>& helpTopics();
