#pragma once

#include "ui/settings/SettingsViewModel.h"

#include <QAbstractTableModel>

#include <algorithm>
#include <functional>

// The rule and mapping tables over the lists as they are in the settings now.
// Each edit and removal finds its row by id in the current list; a model is
// reset only when rows come, go or move, so open editors survive other changes.
// What both share: rows with an id, and a last column that removes its row
// while every other one is editable.
template <typename Row> class SettingsListModel : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : m_removeColumn + 1;
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        const Qt::ItemFlags base = QAbstractTableModel::flags(index);
        return index.column() == m_removeColumn ? base : base | Qt::ItemIsEditable;
    }

    QUuid idAt(int row) const { return row >= 0 && row < m_rows.size() ? m_rows.at(row).id : QUuid(); }

protected:
    SettingsListModel(SettingsViewModel& viewModel, QList<Row> rows, int removeColumn, QObject* parent)
        : QAbstractTableModel(parent), m_vm(viewModel), m_rows(std::move(rows)),
          m_removeColumn(removeColumn) {}

    // The row under a valid index, or none.
    const Row* rowAt(const QModelIndex& index) const {
        return index.isValid() && index.row() < m_rows.size() ? &m_rows.at(index.row()) : nullptr;
    }
    // The remove column's icon and tooltip; none for another cell or role.
    QVariant removeCell(const QModelIndex& index, int role) const;
    // A reset to `rows` (and whatever `alsoReset` changes) when rows came,
    // went or moved; true when it was made.
    bool resetIfRowsChanged(const QList<Row>& rows, const std::function<void()>& alsoReset = {}) {
        if (std::equal(rows.begin(), rows.end(), m_rows.begin(), m_rows.end(),
                       [](const Row& x, const Row& y) { return x.id == y.id; })) {
            return false;
        }
        beginResetModel();
        m_rows = rows;
        if (alsoReset) {
            alsoReset();
        }
        endResetModel();
        return true;
    }

    SettingsViewModel& m_vm;
    QList<Row> m_rows;

private:
    int m_removeColumn;
};

class DecadeRuleTableModel : public SettingsListModel<DecadeRule> {
    Q_OBJECT

public:
    enum Column { fromColumn, toColumn, labelColumn, removeColumn, columnCount_ };

    explicit DecadeRuleTableModel(SettingsViewModel& viewModel, QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Follows the settings: a reset when the rows changed, else a repaint.
    void sync();

private:
    QSet<QUuid> m_affected;
};

class GenreMappingTableModel : public SettingsListModel<GenreMapping> {
    Q_OBJECT

public:
    enum Column { sourceColumn, targetColumn, removeColumn, columnCount_ };

    explicit GenreMappingTableModel(SettingsViewModel& viewModel, QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    int rowOf(const QUuid& id) const;
    void sync();
};
