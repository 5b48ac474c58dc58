#pragma once

#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsPage.h"
#include "ui/settings/SettingsTableModels.h"

#include <QPushButton>
#include <QTableView>

#include <functional>

// The Search/Replace tab: the decade-label switch, the decade-rule table with
// its findings, the genre switches and the genre-mapping table, each table
// with export and import.
class SearchReplacePage : public SettingsPage {
    Q_OBJECT

public:
    explicit SearchReplacePage(SettingsViewModel& viewModel, QWidget* parent = nullptr);

    void refresh() override;
    void retranslate() override;

    QTableView* ruleTable() const { return m_ruleTable; }
    DecadeRuleTableModel* ruleModel() const { return m_ruleModel; }
    QLabel* ruleResult() const { return m_ruleResult; }
    QLabel* findings() const { return m_findings; }
    QPushButton* ruleImportButton() const { return m_ruleImport; }

private:
    struct ButtonRow {
        QPushButton* add;
        QPushButton* exportButton;
        QPushButton* importButton;
        QLabel* result;
    };
    ButtonRow addButtonRow(QVBoxLayout* layout);
    void connectExchange(const ButtonRow& row, QString (SettingsViewModel::*fileName)() const,
                         void (SettingsViewModel::*exportTo)(const QString&),
                         void (SettingsViewModel::*importFrom)(const QString&));
    QTableView* makeTable(QAbstractItemModel* model);
    // Puts the section's footer `note` beside a button that restores the
    // defaults once the user confirms `question` (with `detail`), both shown
    // in the language of the moment of the click.
    QPushButton* addRestoreButton(QVBoxLayout* layout, QLabel* note, const TextPair& question,
                                  const TextPair& detail, std::function<void()> restore);

    QCheckBox* m_writeDecade;
    SettingsForm::Section m_writeSection;
    SettingsForm::Section m_ruleSection;
    QTableView* m_ruleTable;
    DecadeRuleTableModel* m_ruleModel;
    QPushButton* m_ruleAdd;
    QPushButton* m_ruleExport;
    QPushButton* m_ruleImport;
    QLabel* m_ruleResult;
    QLabel* m_findings;
    QLabel* m_ruleNote;
    QPushButton* m_ruleRestore;

    QCheckBox* m_lookup;
    QCheckBox* m_overwrite;
    SettingsForm::Section m_lookupSection;
    QWidget* m_mappingSection;
    QCheckBox* m_apply;
    QCheckBox* m_autoAdd;
    QLabel* m_autoAddNote;
    QTableView* m_mappingTable;
    GenreMappingTableModel* m_mappingModel;
    QPushButton* m_mappingAdd;
    QPushButton* m_mappingExport;
    QPushButton* m_mappingImport;
    QLabel* m_mappingResult;
    QLabel* m_mappingNote;
    QPushButton* m_mappingRestore;
};
