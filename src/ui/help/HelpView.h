#pragma once

#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QListWidget;
class QScrollArea;
class QLabel;

// The handbook screen: topics on the left, the selected topic's sections and
// items on the right. Item texts are inline Markdown (links open in the
// browser); everything else is plain text. A language change re-sets every
// text in place and keeps the selected topic.
class HelpView : public QWidget {
    Q_OBJECT
public:
    // Starts on `selectedTopic`, or the placeholder when none.
    explicit HelpView(std::optional<QUuid> selectedTopic, QWidget* parent = nullptr);

    std::optional<QUuid> selectedTopic() const { return m_selected; }
    void selectTopic(std::optional<QUuid> id);

public Q_SLOTS:
    void retranslate();

private:
    void showDetail();

    QListWidget* m_list;
    QScrollArea* m_detail;
    std::optional<QUuid> m_selected;
    std::vector<std::function<void()>> m_detailTexts;
};
