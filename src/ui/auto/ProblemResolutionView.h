#pragma once

#include "ui/auto/ProblemResolutionViewModel.h"

#include <QDialog>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QTableView;
class ProblemFilesModel;

// The problem sheet: a window-modal dialog over the presenter's list of files
// without a year. Open it with open(); it never closes itself: the presenter
// closes it (accept()) inside its completion. Escape and the window's close
// button finish with the whole list; Return does nothing.
class ProblemResolutionView : public QDialog {
    Q_OBJECT

public:
    // Opens the year editor for one file over `parent`. The editor calls
    // `onSave` with the typed year (none for "Skip") and not at all on Cancel.
    using YearEditorOpener = std::function<void(QWidget* parent, const MusicFile& file,
                                                std::function<void(std::optional<int>)> onSave)>;

    // The opener used by sheets made without one (the year editor registers
    // itself here, so either mode can show the same sheet).
    static YearEditorOpener setDefaultYearEditorOpener(YearEditorOpener opener); // the one it replaces

    ProblemResolutionView(ProblemResolutionViewModel::Binding files,
                          ProblemResolutionViewModel::DoneHandler onDone, QWidget* parent = nullptr,
                          YearEditorOpener opener = {});

    ProblemResolutionViewModel& viewModel() { return *m_viewModel; }
    QTableView* table() const { return m_table; }

public Q_SLOTS:
    // Escape and the window close: finish with every file.
    void reject() override;

private:
    void buildUi();
    void retranslate();
    void refreshCounts();
    void openYearEditor(const MusicFile& file);
    void showContextMenu(const QPoint& position);

    ProblemResolutionViewModel* m_viewModel = nullptr;
    YearEditorOpener m_opener;
    ProblemFilesModel* m_model = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_icon = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_subtitle = nullptr;
    QLabel* m_resolved = nullptr;
    QLabel* m_pending = nullptr;
    QPushButton* m_skipAll = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_updateSelected = nullptr;
};
