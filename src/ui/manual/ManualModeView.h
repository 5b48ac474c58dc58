#pragma once

#include "model/MusicFile.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class ContentArea;
class ElidedLabel;
class ManualFileTableModel;
class ManualModeViewModel;
class ProblemResolutionView;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMessageBox;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTableView;
class QTimer;
class TableSelectionViewModel;
class YearEditSheet;

// The Manual mode screen: toolbar row, filter bar with the progress display,
// the file table (or an empty state) that takes dropped files and folders,
// and the statistics footer; it presents the year sheet, the problem sheet
// and the error alert. Every action is one call into the view model.
class ManualModeView : public QWidget {
    Q_OBJECT
public:
    explicit ManualModeView(QWidget* parent = nullptr);
    // Over a model the caller keeps alive longer than the screen (tests).
    explicit ManualModeView(ManualModeViewModel* model, QWidget* parent = nullptr);
    ~ManualModeView() override;

    ManualModeViewModel& viewModel() { return *m_model; }
    TableSelectionViewModel& selection() { return *m_selection; }
    QTableView* table() const { return m_table; }
    QWidget* contentArea() const;

    // Opens the year sheet for a row (nothing while a write runs).
    void openYearSheet(const MusicFile& file);

protected:
    void changeEvent(QEvent* event) override;

private:
    void build();
    QWidget* buildToolbar();
    QWidget* buildFilterBar();
    QWidget* buildFooter();
    void retranslate();
    void refresh();
    void refreshProgress();
    void showErrorIfNew();
    void chooseDirectory();
    void openProblemSheet();
    bool yearEditingAllowed() const;
    void statusClicked(const QModelIndex& index);
    void statusDoubleClicked(const QModelIndex& index);
    void showRowMenu(const QPoint& position);
    void syncSortIndicator();

    std::unique_ptr<ManualModeViewModel> m_ownedModel;
    ManualModeViewModel* m_model;
    TableSelectionViewModel* m_selection = nullptr;
    ManualFileTableModel* m_tableModel = nullptr;

    QPushButton* m_directory = nullptr;
    QLabel* m_folderName = nullptr;
    QPushButton* m_scan = nullptr;
    QPushButton* m_clear = nullptr;
    QPushButton* m_lookup = nullptr;
    QPushButton* m_update = nullptr;
    QPushButton* m_problems = nullptr;
    QPushButton* m_undo = nullptr;
    QPushButton* m_cancel = nullptr;

    QCheckBox* m_all = nullptr;
    QLineEdit* m_search = nullptr;
    QCheckBox* m_problemsOnly = nullptr;
    QWidget* m_progress = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_progressLabel = nullptr;

    ContentArea* m_content = nullptr;
    QStackedWidget* m_stack = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_noFilesTitle = nullptr;
    QLabel* m_noFilesHint = nullptr;
    QPushButton* m_chooseDirectory = nullptr;
    QLabel* m_noAudioTitle = nullptr;
    QLabel* m_noAudioHint = nullptr;

    struct Counter {
        QWidget* box;
        QLabel* label;
        QLabel* count;
    };
    QList<Counter> m_counters;
    ElidedLabel* m_unreadableNote = nullptr;
    QLabel* m_selectionText = nullptr;

    QPointer<QMessageBox> m_alert;
    std::optional<QString> m_shownError;
    QPointer<YearEditSheet> m_yearSheet;
    QPointer<ProblemResolutionView> m_problemSheet;
    QTimer* m_popoverDelay = nullptr;
    QTimer* m_rowRefresh = nullptr;
    QUuid m_pendingPopover;
    bool m_syncingSort = false;
};
