#pragma once

#include "ui/manual/YearEditSheetViewModel.h"

#include <QDialog>

#include <functional>
#include <optional>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QWidget;

// The year sheet: a window-modal dialog (open it with open()) in which the
// user types a year or picks a decade for one file. Save hands the year to
// `onSave` and closes; Skip hands none and closes; Cancel and Escape close
// without calling. Only Save reacts to Return, and only with valid input.
class YearEditSheet : public QDialog {
    Q_OBJECT
public:
    using SaveHandler = std::function<void(std::optional<int>)>;

    YearEditSheet(const MusicFile& file, SaveHandler onSave, QWidget* parent = nullptr);

    YearEditSheetViewModel& viewModel() { return m_model; }
    // Makes the problem sheet open this editor for its files.
    static void registerAsProblemSheetEditor();

private:
    void build();
    QLayout* buildHeader();
    QLayout* buildInfo(QWidget* content);
    QLayout* buildInput(QWidget* content);
    QWidget* buildYearBlock(QWidget* content);
    QWidget* buildDecadeBlock(QWidget* content);
    QWidget* buildPreview(QWidget* content);
    QLayout* buildButtons();
    void retranslate();
    void refresh();
    void fitHeight();
    void save();
    void skip();

    YearEditSheetViewModel m_model;
    SaveHandler m_onSave;
    QLabel* m_title = nullptr;
    QLabel* m_fileName = nullptr;
    QLabel* m_infoHeading = nullptr;
    QList<QLabel*> m_infoLabels;
    QLabel* m_inputHeading = nullptr;
    QButtonGroup* m_modes = nullptr;
    QWidget* m_yearBlock = nullptr;
    QLabel* m_yearHint = nullptr;
    QLineEdit* m_yearField = nullptr;
    QLabel* m_arrowLabel = nullptr;
    QLabel* m_yearError = nullptr;
    QWidget* m_decadeBlock = nullptr;
    QLabel* m_decadeHint = nullptr;
    QLabel* m_decadeTitle = nullptr;
    QComboBox* m_decadePicker = nullptr;
    QWidget* m_preview = nullptr;
    QLabel* m_previewHeading = nullptr;
    QLabel* m_currentCaption = nullptr;
    QLabel* m_newCaption = nullptr;
    QLabel* m_newGenre = nullptr;
    QLabel* m_skipNote = nullptr;
    QPushButton* m_skip = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_save = nullptr;
};
