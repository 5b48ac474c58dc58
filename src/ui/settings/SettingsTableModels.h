#pragma once

#include "ui/settings/SettingsViewModel.h"

#include <QAbstractTableModel>

// The rule and mapping tables over the lists as they are in the settings now.
// Each edit and removal finds its row by id in the current list; a model is
// reset only when rows come, go or move, so open editors survive other changes.
class DecadeRuleTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { fromColumn, toColumn, labelColumn, removeColumn, columnCount_ };

    explicit DecadeRuleTableModel(SettingsViewModel& viewModel, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    QUuid idAt(int row) const;
    // Follows the settings: a reset when the rows changed, else a repaint.
    void sync();

private:
    SettingsViewModel& m_vm;
    QList<DecadeRule> m_rules;
    QSet<QUuid> m_affected;
};

class GenreMappingTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { sourceColumn, targetColumn, removeColumn, columnCount_ };

    explicit GenreMappingTableModel(SettingsViewModel& viewModel, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    QUuid idAt(int row) const;
    int rowOf(const QUuid& id) const;
    void sync();

private:
    SettingsViewModel& m_vm;
    QList<GenreMapping> m_mappings;
};
