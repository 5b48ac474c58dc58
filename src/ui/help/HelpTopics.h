#pragma once

#include "model/AppLanguage.h"

#include <QList>
#include <QString>
#include <QUuid>

// Every text below is a pair; the shown one is picked at draw time.

struct HelpItem {
    QUuid id;
    TextPair textLS;
    bool isNote = false;
    bool isTip = false;
    // Inline Markdown (links, emphasis).
    QString text() const { return localizedText(textLS); }
};

struct HelpSection {
    QUuid id;
    TextPair headingLS;
    QList<HelpItem> items;
    QString heading() const { return localizedText(headingLS); }
};

struct HelpTopic {
    QUuid id;
    // Symbol name, see Look::symbolIcon().
    QString icon;
    TextPair titleLS;
    QList<HelpSection> sections;
    QString title() const { return localizedText(titleLS); }
};

// The bilingual handbook, built once per process (safe from any thread).
const QList<HelpTopic>& helpTopics();
