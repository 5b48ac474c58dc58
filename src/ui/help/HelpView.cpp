#include "ui/help/HelpView.h"

#include "model/AppLanguage.h"
#include "model/AppSettings.h"
#include "ui/Look.h"
#include "ui/WebLinks.h"
#include "ui/help/HelpTopics.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>

namespace {

const HelpTopic* findTopic(const std::optional<QUuid>& id) {
    if (!id) {
        return nullptr;
    }
    for (const HelpTopic& topic : helpTopics()) {
        if (topic.id == *id) {
            return &topic;
        }
    }
    return nullptr;
}

// Item texts are inline Markdown: a leading "1. ", "- " or "# " is text, not
// the start of a list or a heading. A leading "**Undo**" is bold, not a list.
QString inlineMarkdown(const QString& text) {
    static const QRegularExpression blockStart(
        QStringLiteral(R"(^(\d+)([.)]\s)|^([-+*](?=\s|$)|#{1,6}(?=\s|$)|>))"));
    QString out = text;
    const QRegularExpressionMatch match = blockStart.match(out);
    if (match.hasMatch()) {
        out.insert(match.hasCaptured(1) ? match.capturedEnd(1) : 0, QLatin1Char('\\'));
    }
    return out;
}

QColor tint(const HelpItem& item) {
    QColor color = item.isNote ? QColor(0, 122, 255) : QColor(52, 199, 89);
    color.setAlphaF(0.07);
    return color;
}

} // namespace

HelpView::HelpView(std::optional<QUuid> selectedTopic, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Horizontal);
    layout->addWidget(splitter);

    m_list = new QListWidget;
    m_list->setObjectName(QStringLiteral("helpTopics"));
    m_list->setMinimumWidth(180);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setTextElideMode(Qt::ElideRight);
    for (const HelpTopic& topic : helpTopics()) {
        auto* row = new QListWidgetItem(Look::symbolIcon(topic.icon), topic.title(), m_list);
        row->setData(Qt::UserRole, topic.id);
    }
    splitter->addWidget(m_list);

    m_detail = new QScrollArea;
    m_detail->setObjectName(QStringLiteral("helpDetail"));
    m_detail->setWidgetResizable(true);
    m_detail->setFrameShape(QFrame::NoFrame);
    splitter->addWidget(m_detail);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({230, 670});

    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] {
        const auto rows = m_list->selectedItems();
        m_selected = rows.isEmpty() ? std::nullopt : std::optional(rows.first()->data(Qt::UserRole).toUuid());
        showDetail();
    });
    connect(&AppSettings::shared(), &AppSettings::languageChanged, this, &HelpView::retranslate);
    selectTopic(selectedTopic);
    showDetail();
}

void HelpView::selectTopic(std::optional<QUuid> id) {
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* row = m_list->item(i);
        if (id && row->data(Qt::UserRole).toUuid() == *id) {
            m_list->setCurrentItem(row);
            return;
        }
    }
    m_list->clearSelection();
}

void HelpView::retranslate() {
    for (int i = 0; i < m_list->count(); ++i) {
        if (const HelpTopic* topic = findTopic(m_list->item(i)->data(Qt::UserRole).toUuid())) {
            m_list->item(i)->setText(topic->title());
        }
    }
    for (const auto& apply : m_detailTexts) {
        apply();
    }
}

void HelpView::showDetail() {
    m_detailTexts.clear();
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    const HelpTopic* topic = findTopic(m_selected);
    const auto addText = [this](QLabel* label, std::function<QString()> text) {
        m_detailTexts.emplace_back([label, text] { label->setText(text()); });
    };

    if (topic == nullptr) {
        column->addStretch();
        auto* symbol = Look::symbolLabel(nullptr, QStringLiteral("book.pages"), 48);
        symbol->setAlignment(Qt::AlignCenter);
        column->addWidget(symbol);
        QLabel* title = Look::plainLabel(nullptr);
        title->setObjectName(QStringLiteral("placeholderTitle"));
        title->setAlignment(Qt::AlignCenter);
        title->setFont(Look::scaledFont(title->font(), 1.3, QFont::Bold));
        addText(title, [] {
            return localizedText(QStringLiteral("Thema wählen"), QStringLiteral("Choose a Topic"));
        });
        column->addWidget(title);
        QLabel* description = Look::plainLabel(nullptr);
        description->setAlignment(Qt::AlignCenter);
        description->setForegroundRole(QPalette::PlaceholderText);
        addText(description, [] {
            return localizedText(QStringLiteral("Wähle links ein Thema aus."),
                                 QStringLiteral("Select a topic from the list."));
        });
        column->addWidget(description);
        column->addStretch();
    } else {
        column->setContentsMargins(28, 28, 28, 28);
        column->setSpacing(24);
        page->setMaximumWidth(680 + 56);
        auto* header = new QHBoxLayout;
        header->setSpacing(10);
        header->addWidget(Look::symbolLabel(nullptr, topic->icon, 24));
        QLabel* title = Look::plainLabel(nullptr);
        title->setObjectName(QStringLiteral("topicTitle"));
        title->setFont(Look::scaledFont(title->font(), 1.5, QFont::Bold));
        addText(title, [topic] { return topic->title(); });
        header->addWidget(title, 1);
        column->addLayout(header);

        for (const HelpSection& section : topic->sections) {
            auto* block = new QVBoxLayout;
            block->setSpacing(8);
            QLabel* heading = Look::plainLabel(nullptr);
            heading->setObjectName(QStringLiteral("sectionHeading"));
            heading->setFont(Look::headline(heading->font()));
            addText(heading, [&section] { return section.heading(); });
            block->addWidget(heading);
            block->addWidget(Look::divider(nullptr, Qt::Horizontal));
            for (const HelpItem& item : section.items) {
                auto* row = new QFrame;
                if (item.isNote || item.isTip) {
                    row->setStyleSheet(
                        QStringLiteral("QFrame#helpRow { background: %1; border-radius: 7px; }")
                            .arg(tint(item).name(QColor::HexArgb)));
                }
                row->setObjectName(QStringLiteral("helpRow"));
                auto* rowLayout = new QHBoxLayout(row);
                rowLayout->setContentsMargins(10, 7, 10, 7);
                rowLayout->setSpacing(10);
                auto* mark = new QLabel;
                mark->setFixedWidth(16);
                mark->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
                if (item.isNote || item.isTip) {
                    mark->setContentsMargins(0, 2, 0, 0);
                    mark->setPixmap(Look::symbolIcon(item.isNote ? QStringLiteral("info.circle.fill")
                                                                 : QStringLiteral("lightbulb.fill"),
                                                     Look::statusColor(item.isNote ? QStringLiteral("blue")
                                                                                   : QStringLiteral("orange"),
                                                                       mark->palette()))
                                        .pixmap(14, 14));
                } else {
                    mark->setContentsMargins(0, 0, 0, 0);
                    mark->setTextFormat(Qt::PlainText);
                    mark->setText(QStringLiteral("•"));
                    mark->setForegroundRole(QPalette::PlaceholderText);
                }
                rowLayout->addWidget(mark);
                auto* text = new QLabel;
                text->setObjectName(QStringLiteral("helpItem"));
                text->setTextFormat(Qt::MarkdownText);
                text->setWordWrap(true);
                text->setTextInteractionFlags(Qt::TextBrowserInteraction);
                connect(text, &QLabel::linkActivated, this,
                        [](const QString& link) { WebLinks::open(QUrl(link)); });
                addText(text, [&item] { return inlineMarkdown(item.text()); });
                rowLayout->addWidget(text, 1);
                block->addWidget(row);
            }
            column->addLayout(block);
        }
        column->addSpacing(40);
        column->addStretch();
    }
    retranslate();
    m_detail->setWidget(page); // deletes the previous page
}
