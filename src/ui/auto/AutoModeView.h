#pragma once

#include "ui/auto/AutoModeViewModel.h"
#include "ui/auto/ProblemResolutionView.h"

#include <QColor>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QFrame;
class QLabel;
class QLayout;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class AutoLogModel;
class AutoLogView;
class ElidedLabel;

// The Auto Mode screen: folder choice, Start and Cancel, statistics and
// progress, the live log and, once a run has ended, the completion panel with
// Review and Undo. Everything it shows comes from its view model.
//
// A run hands over a result per file, hundreds a second: the counters, bars,
// current file and log take them in batches, drawn at most every
// `refreshInterval` ms, so that clicks and keys are answered during a run.
// A change of phase, of running or of the finished state is drawn at once,
// with everything gathered before it.
class AutoModeView : public QWidget {
    Q_OBJECT

public:
    // Makes its own view model with the program's services.
    explicit AutoModeView(QWidget* parent = nullptr);
    // Shows the given view model (it becomes the screen's child).
    explicit AutoModeView(AutoModeViewModel* viewModel, QWidget* parent = nullptr);

    AutoModeViewModel* viewModel() const { return m_vm; }
    static constexpr int refreshInterval = 40;
    // The open problem sheet, if any.
    ProblemResolutionView* problemSheet() const { return m_sheet; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void buildUi();
    QLayout* buildHeader();
    QLayout* buildProgress();
    QWidget* buildBars();
    QWidget* buildLog();
    QWidget* buildCompletionPanel();
    void refreshColours();
    void connectViewModel();
    void retranslate();
    void refreshHeader();
    void refreshProgress();
    void refreshStatistics();
    void refreshLogHint();
    void refreshPanel();
    // Marks what a result changed; the timer draws it with the rest.
    enum Pending { progressPart = 1, statisticsPart = 2, panelPart = 4 };
    void schedule(int parts);
    // Draws everything gathered: the log lines, then counters, bars and panel.
    void flush();
    void chooseFolder();
    void presentSheet();

    AutoModeViewModel* m_vm = nullptr;
    QPointer<ProblemResolutionView> m_sheet;

    QLabel* m_title = nullptr;
    QLabel* m_subtitle = nullptr;
    QPushButton* m_choose = nullptr;
    ElidedLabel* m_folder = nullptr;
    QStackedWidget* m_startOrCancel = nullptr; // as tall as the taller of the two
    QPushButton* m_start = nullptr;
    QPushButton* m_cancel = nullptr;

    QLabel* m_statLabels[4] = {};
    QLabel* m_statValues[4] = {};
    QLabel* m_counter = nullptr;
    QWidget* m_bars = nullptr;
    QLabel* m_overallLabel = nullptr;
    QLabel* m_percent = nullptr;
    QProgressBar* m_overallBar = nullptr;
    QLabel* m_phaseLabel = nullptr;
    ElidedLabel* m_currentFile = nullptr;
    QProgressBar* m_fileBar = nullptr;

    QStackedWidget* m_logStack = nullptr;
    QLabel* m_hint = nullptr;
    AutoLogView* m_logView = nullptr;
    AutoLogModel* m_logModel = nullptr;
    // Log lines appended since the last draw, and the lines dropped at the
    // front meanwhile.
    QList<AutoModeViewModel::LogEntry> m_pendingLog;
    int m_pendingDropped = 0;
    int m_pendingParts = 0;
    QTimer m_refreshTimer;
    // The total whose digits the counter has room for.
    int m_counterTotal = -1;

    QFrame* m_panelDivider = nullptr;
    QFrame* m_panel = nullptr;
    QLabel* m_panelIcon = nullptr;
    QLabel* m_panelTitle = nullptr;
    QLabel* m_panelSummary = nullptr;
    QPushButton* m_review = nullptr;
    QPushButton* m_undo = nullptr;
    QColor m_panelTint;
};
