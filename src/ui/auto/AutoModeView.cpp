#include "ui/auto/AutoModeView.h"

#include "model/AppSettings.h"
#include "ui/DoubleClickGuard.h"
#include "ui/ElidedLabel.h"
#include "ui/Look.h"
#include "ui/auto/ProblemResolutionView.h"

#include <QAbstractListModel>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QVBoxLayout>

#include <utility>

namespace {

using Look::plainLabel;
using Look::statusColor;

// The time of day with seconds in the user's locale.
QString timeOfDay(const QDateTime& time) {
    const QLocale locale;
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1Char('s'))) {
        format.replace(QStringLiteral("mm"), QStringLiteral("mm:ss"));
    }
    return locale.toString(time.time(), format);
}

QIcon logIcon(AutoModeViewModel::LogKind kind, const QPalette& palette) {
    switch (kind) {
    case AutoModeViewModel::LogKind::info:
        return Look::symbolIcon(QStringLiteral("info.circle"), statusColor("secondary", palette));
    case AutoModeViewModel::LogKind::success:
        return Look::symbolIcon(QStringLiteral("checkmark.circle.fill"), statusColor("green", palette));
    case AutoModeViewModel::LogKind::skipped:
        return Look::symbolIcon(QStringLiteral("arrow.forward.circle.fill"), statusColor("orange", palette));
    case AutoModeViewModel::LogKind::error:
        return Look::symbolIcon(QStringLiteral("exclamationmark.circle.fill"), statusColor("red", palette));
    }
    return {};
}

} // namespace

// The log as a list model; it follows the view model's appends and trims, a
// batch at a time. It keeps each row's measured height, so a batch lays out
// only its new rows.
class AutoLogModel : public QAbstractListModel {
public:
    explicit AutoLogModel(QObject* parent) : QAbstractListModel(parent) {}

    // Drops `droppedFromFront` lines at the front of the rows and then of
    // `entries`, and appends the rest of `entries`.
    void append(QList<AutoModeViewModel::LogEntry> entries, int droppedFromFront) {
        const int oldDropped = std::min(droppedFromFront, int(m_entries.size()));
        if (oldDropped > 0) {
            beginRemoveRows({}, 0, oldDropped - 1);
            m_entries.remove(0, oldDropped);
            m_heights.remove(0, oldDropped);
            endRemoveRows();
        }
        entries.remove(0, std::min(droppedFromFront - oldDropped, int(entries.size())));
        if (entries.isEmpty()) {
            return;
        }
        const int first = int(m_entries.size());
        beginInsertRows({}, first, first + int(entries.size()) - 1);
        m_entries.append(entries);
        m_heights.resize(m_entries.size(), -1);
        endInsertRows();
    }
    void reset(const QList<AutoModeViewModel::LogEntry>& entries) {
        beginResetModel();
        m_entries = entries;
        m_heights = QList<int>(entries.size(), -1);
        endResetModel();
    }
    const AutoModeViewModel::LogEntry& entry(int row) const { return m_entries.at(row); }

    // The height a row's message was measured at for `width`; -1 when not yet.
    int measuredHeight(int row, int width) const { return width == m_heightsWidth ? m_heights.at(row) : -1; }
    void keepHeight(int row, int width, int height) const {
        if (width != m_heightsWidth) {
            m_heights.fill(-1);
            m_heightsWidth = width;
        }
        m_heights[row] = height;
    }
    // The font changed: every row is measured again.
    void forgetHeights() const { m_heightsWidth = -1; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_entries.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= m_entries.size()) {
            return {};
        }
        if (role == Qt::DisplayRole) {
            return m_entries.at(index.row()).message;
        }
        return {};
    }

private:
    QList<AutoModeViewModel::LogEntry> m_entries;
    mutable QList<int> m_heights;
    mutable int m_heightsWidth = -1;
};

namespace {

// One log row: time (70 wide), kind icon, then the message wrapped to the
// remaining width, drawn as plain text.
class LogRowDelegate : public QStyledItemDelegate {
public:
    LogRowDelegate(AutoLogModel* model, QListView* view)
        : QStyledItemDelegate(view), m_model(model), m_view(view) {}

    static constexpr int timeWidth = 70;
    static constexpr int iconSize = 14;
    static constexpr int gap = 8;
    static constexpr int padding = 12; // left and right of every row

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const int width = messageWidth();
        int height = m_model->measuredHeight(index.row(), width);
        if (height < 0) {
            const QFontMetrics metrics(Look::monospaceCaption(option.font));
            height = metrics
                         .boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap | Qt::TextWrapAnywhere,
                                       m_model->entry(index.row()).message)
                         .height();
            m_model->keepHeight(index.row(), width, height);
        }
        return {m_view->viewport()->width() - 2 * m_view->spacing(), std::max(height, iconSize) + 2};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const AutoModeViewModel::LogEntry& entry = m_model->entry(index.row());
        painter->save();
        if (option.state & QStyle::State_Selected) {
            painter->fillRect(option.rect, option.palette.highlight());
        }
        const QFont font = Look::monospaceCaption(option.font);
        painter->setFont(font);
        const QRect row = option.rect.adjusted(padding, 1, -padding, -1);
        painter->setPen(option.palette.color(QPalette::PlaceholderText));
        painter->drawText(QRect(row.left(), row.top(), timeWidth, row.height()), Qt::AlignLeft | Qt::AlignTop,
                          timeOfDay(entry.time));
        const int iconLeft = row.left() + timeWidth + gap;
        logIcon(entry.kind, option.palette).paint(painter, QRect(iconLeft, row.top(), iconSize, iconSize));
        QColor color = option.palette.color(QPalette::Text);
        if (entry.kind == AutoModeViewModel::LogKind::skipped) {
            color = statusColor("orange", option.palette);
        } else if (entry.kind == AutoModeViewModel::LogKind::error) {
            color = statusColor("red", option.palette);
        }
        painter->setPen(color);
        const int textLeft = iconLeft + iconSize + gap;
        painter->drawText(QRect(textLeft, row.top(), messageWidth(), row.height()),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextWrapAnywhere,
                          entry.message);
        painter->restore();
    }

private:
    int messageWidth() const {
        return std::max(40, m_view->viewport()->width() - timeWidth - iconSize - 2 * gap - 2 * padding - 4);
    }
    AutoLogModel* m_model;
    QListView* m_view;
};

} // namespace

// The log's list. It follows the newest line until the user scrolls away from
// the end (wheel, scroll bar, keys) and again once they scroll back to it: a
// click only selects, and moves that the list makes itself (the scroll to a
// clicked line it would make after the double-click interval, the scroll to
// its current line when shown again) end nothing. While the user reads back,
// the lines dropped at the front take their height with them, so the lines in
// view stay where they are until they are dropped themselves.
class AutoLogView : public QListView {
public:
    explicit AutoLogView(QWidget* parent) : QListView(parent) {
        QScrollBar* bar = verticalScrollBar();
        connect(bar, &QScrollBar::actionTriggered, this, [this, bar] { // the new place, not yet taken
            m_following = bar->sliderPosition() >= bar->maximum();
        });
        // A longer list or a smaller view (the completion panel, a smaller
        // window) moves a followed log to its new end.
        connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
            if (m_following) {
                bar->setValue(maximum);
            }
        });
    }

    bool following() const { return m_following; }
    // A new run's log is followed again.
    void follow() {
        m_following = true;
        scrollToBottom();
    }

protected:
    // Keys and a drag past the edge scroll by the list, not by the scroll bar. End goes to the
    // newest line and follows it.
    void keyPressEvent(QKeyEvent* event) override {
        QListView::keyPressEvent(event);
        if (event->key() == Qt::Key_End) {
            follow();
        } else {
            userScrolled();
        }
    }
    // With no current line (none chosen yet, or its line dropped at the front) a list moves every
    // key from its first line, to the top of the log: End goes to the newest line instead, and
    // the keys that move by lines or pages start from the top line in view.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        const int rows = model() != nullptr ? model()->rowCount() : 0;
        if (currentIndex().isValid() || rows == 0) {
            return QListView::moveCursor(action, modifiers);
        }
        if (action == MoveEnd) {
            return model()->index(rows - 1, 0);
        }
        QModelIndex top;
        for (int y = 0; !top.isValid() && y <= 2 * spacing(); ++y) { // the spacing is no line's
            top = indexAt(QPoint(viewport()->width() / 2, y));
        }
        if (!top.isValid() ||
            (action != MoveUp && action != MoveDown && action != MovePageUp && action != MovePageDown)) {
            return QListView::moveCursor(action, modifiers);
        }
        // Moved as if the top line were current; none is until the key makes the result current.
        const QSignalBlocker quiet(selectionModel());
        selectionModel()->setCurrentIndex(top, QItemSelectionModel::NoUpdate);
        const QModelIndex moved = QListView::moveCursor(action, modifiers);
        selectionModel()->clearCurrentIndex();
        return moved;
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        QListView::mouseMoveEvent(event);
        if (state() == DragSelectingState) {
            userScrolled();
        }
    }
    void timerEvent(QTimerEvent* event) override {
        QListView::timerEvent(event);
        if (state() == DragSelectingState) {
            userScrolled();
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        setAutoScroll(false); // no scroll to the line after the double-click interval
        QListView::mousePressEvent(event);
        setAutoScroll(true);
    }
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override {
        if (!m_following && start == 0 && end + 1 < model()->rowCount(parent)) {
            executeDelayedItemsLayout();
            const int dropped = visualRect(model()->index(end + 1, 0, parent)).top() -
                                visualRect(model()->index(0, 0, parent)).top();
            verticalScrollBar()->setValue(verticalScrollBar()->value() - dropped);
        }
        QListView::rowsAboutToBeRemoved(parent, start, end);
    }

private:
    void userScrolled() { m_following = verticalScrollBar()->value() >= verticalScrollBar()->maximum(); }

    bool m_following = true;
};

AutoModeView::AutoModeView(QWidget* parent) : AutoModeView(new AutoModeViewModel(), parent) {}

AutoModeView::AutoModeView(AutoModeViewModel* viewModel, QWidget* parent) : QWidget(parent), m_vm(viewModel) {
    m_vm->setParent(this);
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(refreshInterval);
    connect(&m_refreshTimer, &QTimer::timeout, this, &AutoModeView::flush);
    buildUi();
    connectViewModel();
    connect(&AppSettings::shared(), &AppSettings::languageChanged, this, &AutoModeView::retranslate);
    retranslate();
}

void AutoModeView::buildUi() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addLayout(buildHeader());
    root->addWidget(Look::divider(this, Qt::Horizontal));
    root->addLayout(buildProgress());
    root->addWidget(Look::divider(this, Qt::Horizontal));
    root->addWidget(buildLog(), 1);
    m_panelDivider = Look::divider(this, Qt::Horizontal);
    root->addWidget(m_panelDivider);
    root->addWidget(buildCompletionPanel());

    connect(m_choose, &QPushButton::clicked, this, &AutoModeView::chooseFolder);
    connect(m_start, &QPushButton::clicked, m_vm, &AutoModeViewModel::startProcessing);
    connect(m_cancel, &QPushButton::clicked, m_vm, &AutoModeViewModel::cancelProcessing);
    connect(m_undo, &QPushButton::clicked, m_vm, &AutoModeViewModel::undoLastWrite);
    connect(m_review, &QPushButton::clicked, this, [this] {
        if (!m_vm->problemFiles().isEmpty()) {
            m_vm->setShowProblemResolution(true);
        }
    });
}

// Title and subtitle, the folder, Start and Cancel.
QLayout* AutoModeView::buildHeader() {
    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 12, 16, 12);
    header->setSpacing(16);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    m_title = plainLabel(this);
    m_title->setFont(Look::headline(font()));
    m_subtitle = plainLabel(this);
    m_subtitle->setFont(Look::caption(font()));
    m_subtitle->setForegroundRole(QPalette::PlaceholderText);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    header->addLayout(titles);
    header->addStretch(1);
    auto* folderGroup = new QHBoxLayout;
    folderGroup->setSpacing(8);
    m_choose = new QPushButton(Look::symbolIcon(QStringLiteral("folder")), {}, this);
    m_folder = new ElidedLabel(200, this);
    m_folder->setForegroundRole(QPalette::PlaceholderText);
    folderGroup->addWidget(m_choose);
    folderGroup->addWidget(m_folder);
    header->addLayout(folderGroup);
    header->addWidget(Look::divider(this, Qt::Vertical, 28));
    // Start and Cancel take turns in one place of the size of the larger, so
    // the header keeps its height when a run starts and ends.
    m_startOrCancel = new QStackedWidget(this);
    m_startOrCancel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_start = new QPushButton(Look::symbolIcon(QStringLiteral("play.circle.fill")), {}, m_startOrCancel);
    m_start->setFont(Look::headline(font()));
    m_start->setMinimumHeight(34);
    m_cancel = new QPushButton(Look::symbolIcon(QStringLiteral("stop.circle.fill")), {}, m_startOrCancel);
    m_cancel->setStyleSheet(QStringLiteral("QPushButton { background-color: rgb(210,40,40); color: white; "
                                           "border-radius: 5px; padding: 4px 10px; }"));
    m_startOrCancel->addWidget(m_start);
    m_startOrCancel->addWidget(m_cancel);
    // The second click of a double-click on one lands on the other.
    DoubleClickGuard::install(m_start);
    DoubleClickGuard::install(m_cancel);
    header->addWidget(m_startOrCancel);
    return header;
}

// The four counters, the file counter and the two bars.
QLayout* AutoModeView::buildProgress() {
    auto* progress = new QVBoxLayout;
    progress->setContentsMargins(16, 10, 16, 10);
    progress->setSpacing(10);
    auto* counterRow = new QHBoxLayout;
    auto* stats = new QHBoxLayout;
    stats->setSpacing(16);
    // Primary and secondary follow the palette (the appearance may change
    // after the screen is built); green and orange are set with it (refreshColours).
    const QPalette::ColorRole valueRoles[4] = {QPalette::Text, QPalette::NoRole, QPalette::PlaceholderText,
                                               QPalette::NoRole};
    for (int i = 0; i < 4; ++i) {
        auto* cell = new QVBoxLayout;
        cell->setSpacing(2);
        m_statLabels[i] = plainLabel(this);
        m_statLabels[i]->setFont(Look::caption(font()));
        m_statLabels[i]->setForegroundRole(QPalette::PlaceholderText);
        m_statValues[i] = plainLabel(this);
        m_statValues[i]->setFont(Look::scaledFont(font(), 0.85, QFont::DemiBold));
        if (valueRoles[i] != QPalette::NoRole) {
            m_statValues[i]->setForegroundRole(valueRoles[i]);
        }
        cell->addWidget(m_statLabels[i]);
        cell->addWidget(m_statValues[i]);
        stats->addLayout(cell);
    }
    counterRow->addLayout(stats);
    counterRow->addStretch(1);
    m_counter = plainLabel(this);
    m_counter->setFont(Look::monospaceCaption(font()));
    m_counter->setForegroundRole(QPalette::PlaceholderText);
    counterRow->addWidget(m_counter);
    progress->addLayout(counterRow);

    progress->addWidget(buildBars());
    return progress;
}

// The overall bar and the bar of the current phase, each with its caption line.
QWidget* AutoModeView::buildBars() {
    m_bars = new QWidget(this);
    auto* bars = new QVBoxLayout(m_bars);
    bars->setContentsMargins(0, 0, 0, 0);
    bars->setSpacing(10);
    const QFont caption2 = Look::caption2(font());
    auto* overallLine = new QHBoxLayout;
    m_overallLabel = plainLabel(m_bars);
    m_overallLabel->setFont(caption2);
    m_overallLabel->setForegroundRole(QPalette::PlaceholderText);
    m_percent = plainLabel(m_bars);
    m_percent->setFont(caption2);
    m_percent->setForegroundRole(QPalette::PlaceholderText);
    overallLine->addWidget(m_overallLabel);
    overallLine->addStretch(1);
    overallLine->addWidget(m_percent);
    m_overallBar = new QProgressBar(m_bars);
    m_overallBar->setTextVisible(false);
    m_overallBar->setRange(0, 1000);
    m_overallBar->setMaximumHeight(8);
    auto* overall = new QVBoxLayout;
    overall->setSpacing(3);
    overall->addLayout(overallLine);
    overall->addWidget(m_overallBar);
    bars->addLayout(overall);
    auto* fileLine = new QHBoxLayout;
    m_phaseLabel = plainLabel(m_bars);
    m_phaseLabel->setFont(caption2);
    m_phaseLabel->setForegroundRole(QPalette::PlaceholderText);
    m_currentFile = new ElidedLabel(300, m_bars);
    m_currentFile->setFont(caption2);
    m_currentFile->setForegroundRole(QPalette::PlaceholderText);
    m_currentFile->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    fileLine->addWidget(m_phaseLabel);
    fileLine->addStretch(1);
    fileLine->addWidget(m_currentFile);
    m_fileBar = new QProgressBar(m_bars);
    m_fileBar->setTextVisible(false);
    m_fileBar->setMaximumHeight(8);
    auto* fileBlock = new QVBoxLayout;
    fileBlock->setSpacing(3);
    fileBlock->addLayout(fileLine);
    fileBlock->addWidget(m_fileBar);
    bars->addLayout(fileBlock);
    return m_bars;
}

// The run's log, or a hint while it is empty; Copy copies the selected lines.
QWidget* AutoModeView::buildLog() {
    m_logStack = new QStackedWidget(this);
    m_hint = plainLabel(m_logStack);
    m_hint->setForegroundRole(QPalette::PlaceholderText);
    m_hint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_logModel = new AutoLogModel(this);
    m_logView = new AutoLogView(m_logStack);
    m_logView->setModel(m_logModel);
    m_logView->setItemDelegate(new LogRowDelegate(m_logModel, m_logView));
    m_logView->setUniformItemSizes(false);
    m_logView->setWordWrap(true);
    m_logView->setResizeMode(QListView::Adjust);
    m_logView->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_logView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_logView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_logView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_logView->setSpacing(1);
    refreshColours();
    auto* copy = new QAction(m_logView);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    m_logView->addAction(copy);
    connect(copy, &QAction::triggered, this, [this] {
        QStringList lines;
        QModelIndexList rows = m_logView->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end());
        for (const QModelIndex& row : rows) {
            lines << m_logModel->entry(row.row()).message;
        }
        if (!lines.isEmpty()) {
            QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
        }
    });
    m_logStack->addWidget(m_hint);
    m_logStack->addWidget(m_logView);
    // Set after adding: the stack clears the margins of the pages it takes.
    m_hint->setContentsMargins(20, 16, 20, 16);
    return m_logStack;
}

// The outcome of a finished run, with Review and Undo.
QWidget* AutoModeView::buildCompletionPanel() {
    m_panel = new QFrame(this);
    m_panel->setObjectName(QStringLiteral("completionPanel"));
    auto* panel = new QHBoxLayout(m_panel);
    panel->setContentsMargins(16, 10, 16, 10);
    panel->setSpacing(12);
    m_panelIcon = new QLabel(m_panel);
    auto* panelText = new QVBoxLayout;
    panelText->setSpacing(2);
    m_panelTitle = plainLabel(m_panel);
    m_panelTitle->setFont(Look::scaledFont(font(), 1.0, QFont::Medium));
    m_panelSummary = plainLabel(m_panel);
    m_panelSummary->setFont(Look::caption(font()));
    m_panelSummary->setForegroundRole(QPalette::PlaceholderText);
    panelText->addWidget(m_panelTitle);
    panelText->addWidget(m_panelSummary);
    m_review = new QPushButton(Look::symbolIcon(QStringLiteral("exclamationmark.circle")), {}, m_panel);
    m_review->setStyleSheet(QStringLiteral("QPushButton { background-color: rgb(230,126,0); color: white; "
                                           "border-radius: 5px; padding: 4px 10px; }"));
    m_undo = new QPushButton(Look::symbolIcon(QStringLiteral("arrow.uturn.backward")), {}, m_panel);
    m_undo->setObjectName(QStringLiteral("undoButton"));
    panel->addWidget(m_panelIcon);
    panel->addLayout(panelText);
    panel->addStretch(1);
    panel->addWidget(m_review);
    panel->addWidget(m_undo);
    return m_panel;
}

void AutoModeView::connectViewModel() {
    using VM = AutoModeViewModel;
    for (auto signal : {&VM::selectedDirectoryChanged, &VM::isRunningChanged, &VM::canStartChanged,
                        &VM::writesBlockedChanged}) {
        connect(m_vm, signal, this, &AutoModeView::refreshHeader);
    }
    // A change of state is drawn at once, together with what was gathered before it.
    for (auto signal : {&VM::isRunningChanged, &VM::isFinishedChanged, &VM::phaseChanged, &VM::canUndoChanged,
                        &VM::writesBlockedChanged}) {
        connect(m_vm, signal, this, [this] {
            m_pendingParts |= progressPart | statisticsPart | panelPart;
            flush();
        });
    }
    for (auto signal : {&VM::progressChanged, &VM::currentFileChanged}) {
        connect(m_vm, signal, this, [this] { schedule(progressPart); });
    }
    connect(m_vm, &VM::statisticsChanged, this, [this] { schedule(statisticsPart | panelPart); });
    connect(m_vm, &VM::problemFilesChanged, this, [this] { schedule(panelPart); });
    connect(m_vm, &VM::selectedDirectoryChanged, this, &AutoModeView::refreshLogHint);
    connect(m_vm, &VM::logCleared, this, [this] {
        m_pendingLog.clear();
        m_pendingDropped = 0;
        m_logModel->reset({});
        m_logView->follow();
        refreshLogHint();
    });
    connect(m_vm, &VM::logEntryAppended, this, [this](const VM::LogEntry& entry, int dropped) {
        m_pendingLog.append(entry);
        m_pendingDropped += dropped;
        schedule(0);
    });
    connect(m_vm, &VM::showProblemResolutionChanged, this, &AutoModeView::presentSheet);
    m_logModel->reset(m_vm->log());
}

void AutoModeView::schedule(int parts) {
    m_pendingParts |= parts;
    if (!m_refreshTimer.isActive()) {
        m_refreshTimer.start();
    }
}

void AutoModeView::flush() {
    m_refreshTimer.stop();
    if (!m_pendingLog.isEmpty() || m_pendingDropped > 0) {
        // A current row dropped at the front passes to the next row, and a
        // hidden list scrolls to that one when shown again: to the top of the
        // log, which ends following. The current row goes with its line.
        const QModelIndex current = m_logView->currentIndex();
        if (current.isValid() && current.row() < m_pendingDropped) {
            m_logView->selectionModel()->clearCurrentIndex();
        }
        m_logModel->append(std::exchange(m_pendingLog, {}), std::exchange(m_pendingDropped, 0));
        refreshLogHint();
        if (m_logView->following()) {
            m_logView->scrollToBottom();
        }
    }
    const int parts = std::exchange(m_pendingParts, 0);
    if (parts & progressPart) {
        refreshProgress();
    }
    if (parts & statisticsPart) {
        refreshStatistics();
    }
    if (parts & panelPart) {
        refreshPanel();
    }
}

void AutoModeView::retranslate() {
    m_title->setText(localizedText("Auto-Modus", "Auto Mode"));
    m_subtitle->setText(localizedText("Verarbeitet alle Dateien im Verzeichnis automatisch.",
                                      "Automatically processes all files in the selected directory."));
    m_choose->setText(localizedText("Verzeichnis wählen", "Choose Directory"));
    m_start->setText(localizedText("Starten", "Start"));
    m_cancel->setText(localizedText("Abbrechen", "Cancel"));
    const TextPair stats[4] = {{"Gesamt", "Total"},
                               {"Aktualisiert", "Updated"},
                               {"Übersprungen", "Skipped"},
                               {"Probleme", "Problems"}};
    for (int i = 0; i < 4; ++i) {
        m_statLabels[i]->setText(localizedText(stats[i]));
    }
    m_overallLabel->setText(localizedText("Gesamt", "Overall"));
    refreshHeader();
    refreshProgress();
    refreshStatistics();
    refreshLogHint();
    refreshPanel();
}

// The text background at half strength, taken from the palette in force,
// and the status colours for it.
void AutoModeView::refreshColours() {
    Look::setTextColor(m_statValues[1], statusColor("green", palette()));
    Look::setTextColor(m_statValues[3], statusColor("orange", palette()));
    QPalette logPalette = palette();
    QColor background = logPalette.color(QPalette::Base);
    background.setAlphaF(0.5);
    logPalette.setColor(QPalette::Base, background);
    m_logView->setPalette(logPalette);
}

void AutoModeView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if ((event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) &&
        m_logView != nullptr) {
        refreshColours();
        refreshPanel();
    }
    if (event->type() == QEvent::FontChange && m_logModel != nullptr) {
        m_logModel->forgetHeights();
    }
}

void AutoModeView::refreshHeader() {
    const QString folder = m_vm->selectedDirectory();
    m_folder->setVisible(!folder.isEmpty());
    m_folder->setFullText(folder.isEmpty() ? QString() : QFileInfo(QDir::cleanPath(folder)).fileName());
    m_choose->setEnabled(!m_vm->isRunning());
    m_startOrCancel->setCurrentWidget(m_vm->isRunning() ? m_cancel : m_start);
    m_start->setEnabled(m_vm->canStart());
}

void AutoModeView::refreshProgress() {
    const bool shown = m_vm->isRunning() || m_vm->isFinished();
    const Progress progress = m_vm->progress();
    m_counter->setVisible(shown);
    m_bars->setVisible(shown);
    if (progress.total != m_counterTotal) {
        // Room for the total's digits on both sides, so the counter is never cut.
        m_counterTotal = progress.total;
        const QString digits(QString::number(progress.total).size(), QLatin1Char('8'));
        m_counter->setMinimumWidth(
            m_counter->fontMetrics().horizontalAdvance(digits + QStringLiteral(" / ") + digits));
    }
    m_counter->setText(QString::number(progress.current) + QStringLiteral(" / ") +
                       QString::number(progress.total));

    const double overall = m_vm->overallFraction();
    m_overallBar->setValue(int(overall * 1000.0));
    m_percent->setText(QString::number(qint64(overall * 100.0)) + QStringLiteral(" %"));

    const QString phase = m_vm->phaseText();
    m_phaseLabel->setText(phase);
    m_phaseLabel->setVisible(!phase.isEmpty());
    m_currentFile->setFullText(m_vm->currentFile());
    m_currentFile->setVisible(!m_vm->currentFile().isEmpty());
    if (m_vm->phase() == AutoModeViewModel::ProcessingPhase::scanning || progress.total == 0) {
        m_fileBar->setRange(0, 0);
    } else {
        m_fileBar->setRange(0, 1000);
        m_fileBar->setValue(int(m_vm->progressFraction() * 1000.0));
    }
}

void AutoModeView::refreshStatistics() {
    const AutoModeViewModel::Statistics s = m_vm->statistics();
    const int values[4] = {s.total, s.updated, s.skipped, s.problems};
    for (int i = 0; i < 4; ++i) {
        m_statValues[i]->setText(QString::number(values[i]));
    }
}

void AutoModeView::refreshLogHint() {
    m_hint->setText(m_vm->selectedDirectory().isEmpty()
                        ? localizedText("Wähle ein Verzeichnis und starte die Verarbeitung.",
                                        "Choose a directory and start processing.")
                        : localizedText("Bereit. Drücke \"Starten\" um die Verarbeitung zu beginnen.",
                                        "Ready. Press \"Start\" to begin processing."));
    m_logStack->setCurrentWidget(m_logModel->rowCount() == 0 ? static_cast<QWidget*>(m_hint) : m_logView);
}

void AutoModeView::refreshPanel() {
    const bool shown = m_vm->isFinished();
    m_panel->setVisible(shown);
    m_panelDivider->setVisible(shown);
    const AutoModeViewModel::Statistics s = m_vm->statistics();
    const bool hasProblemFiles = !m_vm->problemFiles().isEmpty();
    const bool success = m_vm->endedSuccessfully();
    const QString title = m_vm->completionTitle();
    m_panelTitle->setText(title);
    const QColor tint = statusColor(success ? "green" : "orange", palette());
    if (tint != m_panelTint) {
        m_panelTint = tint;
        m_panel->setStyleSheet(
            QStringLiteral("QFrame#completionPanel { background-color: rgba(%1,%2,%3,26); }")
                .arg(tint.red())
                .arg(tint.green())
                .arg(tint.blue()));
    }
    const QIcon icon = Look::symbolIcon(success ? QStringLiteral("checkmark.circle.fill")
                                                : QStringLiteral("exclamationmark.triangle.fill"),
                                        tint);
    m_panelIcon->setPixmap(icon.pixmap(22, 22));
    m_panelSummary->setText(QString::number(s.updated) + localizedText(" aktualisiert · ", " updated · ") +
                            QString::number(s.skipped) + localizedText(" übersprungen · ", " skipped · ") +
                            QString::number(s.problems) + localizedText(" Probleme", " problems"));
    const QString count = QString::number(m_vm->problemFiles().size());
    m_review->setText(localizedText(count + QStringLiteral(" Probleme überprüfen"),
                                    QStringLiteral("Review ") + count + QStringLiteral(" problem(s)")));
    m_review->setVisible(hasProblemFiles);
    m_undo->setVisible(m_vm->canUndo() && !m_vm->isRunning());
    m_undo->setEnabled(!m_vm->writesBlocked());
    if (!shown) {
        return; // what Undo restores is looked up when the panel is shown
    }
    // Says what it restores: how many files, and from which run when a later one wrote nothing.
    const AutoModeViewModel::UndoTarget undo = m_vm->undoTarget();
    const QString files =
        QString::number(undo.files) +
        (undo.files == 1 ? localizedText(" Datei", " file") : localizedText(" Dateien", " files"));
    const QString started = timeOfDay(undo.runStarted);
    m_undo->setText(undo.latestRun ? localizedText("Rückgängig (", "Undo (") + files + QLatin1Char(')')
                                   : localizedText("Durchlauf von ", "Undo run of ") + started +
                                         localizedText(" rückgängig (", " (") + files + QLatin1Char(')'));
    m_undo->setToolTip(
        (undo.latestRun
             ? QString()
             : localizedText("Dieser Durchlauf hat nichts geschrieben. ", "This run wrote nothing. ")) +
        localizedText("Stellt die Genre-Tags von ", "Restores the genre tags of ") + files +
        (undo.latestRun ? localizedText(" dieses Durchlaufs", " from this run")
                        : localizedText(" aus dem Durchlauf von ", " from the run of ") + started) +
        localizedText(" wieder her. Nur bis zum nächsten App-Start verfügbar.",
                      ". Only available until the next app launch."));
}

void AutoModeView::chooseFolder() {
    if (m_vm->hasFolderChooser()) {
        m_vm->chooseDirectory();
        return;
    }
    auto* dialog = new QFileDialog(this, localizedText("Verzeichnis auswählen", "Choose Directory"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, localizedText("Wählen", "Choose"));
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (!folder.isEmpty() && !m_vm->isRunning()) {
            m_vm->selectDirectory(folder);
        }
    });
    dialog->open();
}

void AutoModeView::presentSheet() {
    if (!m_vm->showProblemResolution()) {
        if (m_sheet) {
            m_sheet->accept();
            m_sheet->deleteLater();
        }
        return;
    }
    if (m_sheet) {
        return;
    }
    QPointer<AutoModeViewModel> vm(m_vm);
    m_sheet = new ProblemResolutionView(
        {[vm] { return vm ? vm->problemFiles() : QList<MusicFile>{}; },
         [vm](const QList<MusicFile>& files) {
             if (vm) {
                 vm->setProblemFiles(files);
             }
         }},
        [this, vm](const QList<MusicFile>& result) {
            if (!vm) {
                return;
            }
            // "Update Selected" writes the years; the other endings keep the list they hand back.
            if (m_sheet && m_sheet->viewModel().ending() == ProblemResolutionViewModel::Ending::withYears) {
                vm->updateResolvedFiles(result);
            } else {
                vm->setProblemFiles(result);
                vm->setShowProblemResolution(false);
            }
        },
        this);
    m_sheet->open();
}
