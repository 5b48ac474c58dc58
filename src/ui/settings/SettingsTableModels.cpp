#include "ui/settings/SettingsTableModels.h"

#include "ui/Look.h"

#include <QColor>

template <typename Row>
QVariant SettingsListModel<Row>::removeCell(const QModelIndex& index, int role) const {
    if (index.column() != m_removeColumn) {
        return {};
    }
    if (role == Qt::DecorationRole) {
        return Look::symbolIcon(QStringLiteral("minus.circle.fill"));
    }
    if (role == Qt::ToolTipRole) {
        return localizedText(QStringLiteral("Entfernen"), QStringLiteral("Remove"), m_vm.language());
    }
    return {};
}

DecadeRuleTableModel::DecadeRuleTableModel(SettingsViewModel& viewModel, QObject* parent)
    : SettingsListModel(viewModel, viewModel.settings().decadeRules(), removeColumn, parent),
      m_affected(viewModel.affectedRuleIDs()) {}

QVariant DecadeRuleTableModel::data(const QModelIndex& index, int role) const {
    const DecadeRule* row = rowAt(index);
    if (row == nullptr) {
        return {};
    }
    const DecadeRule& rule = *row;
    const int column = index.column();
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        if (column == fromColumn) {
            return QString::number(rule.from);
        }
        if (column == toColumn) {
            return QString::number(rule.to);
        }
        if (column == labelColumn) {
            return rule.label;
        }
    } else if (role == Qt::ForegroundRole && (column == fromColumn || column == toColumn)) {
        if (m_affected.contains(rule.id)) {
            return QColor(Qt::red);
        }
    } else if (role == Qt::TextAlignmentRole && (column == fromColumn || column == toColumn)) {
        return int(Qt::AlignCenter);
    } else {
        return removeCell(index, role);
    }
    return {};
}

QVariant DecadeRuleTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
    case fromColumn:
        return localizedText(QStringLiteral("Von"), QStringLiteral("From"), m_vm.language());
    case toColumn:
        return localizedText(QStringLiteral("Bis"), QStringLiteral("To"), m_vm.language());
    case labelColumn:
        return localizedText(QStringLiteral("Bezeichnung"), QStringLiteral("Label"), m_vm.language());
    default:
        return QString();
    }
}

bool DecadeRuleTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const DecadeRule* row = rowAt(index);
    if (role != Qt::EditRole || row == nullptr) {
        return false;
    }
    const QUuid id = row->id;
    switch (index.column()) {
    case fromColumn:
        return m_vm.setRuleFrom(id, value.toString());
    case toColumn:
        return m_vm.setRuleTo(id, value.toString());
    case labelColumn:
        m_vm.setRuleLabel(id, value.toString());
        return true;
    default:
        return false;
    }
}

void DecadeRuleTableModel::sync() {
    const QList<DecadeRule> rules = m_vm.settings().decadeRules();
    const QSet<QUuid> affected = m_vm.affectedRuleIDs();
    if (resetIfRowsChanged(rules, [&] { m_affected = affected; })) {
        return;
    }
    // Only cells whose content changed are announced: an announcement also
    // resets the text of an editor open on that cell.
    for (qsizetype row = 0; row < rules.size(); ++row) {
        const bool changed = !(rules.at(row) == m_rows.at(row));
        const bool marked = affected.contains(rules.at(row).id) != m_affected.contains(rules.at(row).id);
        m_rows[row] = rules.at(row);
        if (changed || marked) {
            Q_EMIT dataChanged(index(int(row), 0), index(int(row), changed ? labelColumn : toColumn));
        }
    }
    m_affected = affected;
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, columnCount_ - 1);
}

// ---------------------------------------------------------------------------

GenreMappingTableModel::GenreMappingTableModel(SettingsViewModel& viewModel, QObject* parent)
    : SettingsListModel(viewModel, viewModel.settings().genreMappings(), removeColumn, parent) {}

QVariant GenreMappingTableModel::data(const QModelIndex& index, int role) const {
    const GenreMapping* mapping = rowAt(index);
    if (mapping == nullptr) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        if (index.column() == sourceColumn) {
            return mapping->source;
        }
        if (index.column() == targetColumn) {
            return mapping->target;
        }
        return {};
    }
    return removeCell(index, role);
}

QVariant GenreMappingTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (section == sourceColumn) {
        return localizedText(QStringLiteral("Erkannt als"), QStringLiteral("Detected as"), m_vm.language());
    }
    if (section == targetColumn) {
        return localizedText(QStringLiteral("Schreiben als"), QStringLiteral("Write as"), m_vm.language());
    }
    return QString();
}

bool GenreMappingTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const GenreMapping* row = rowAt(index);
    if (role != Qt::EditRole || row == nullptr) {
        return false;
    }
    const QUuid id = row->id;
    if (index.column() == sourceColumn) {
        m_vm.setMappingSource(id, value.toString());
        return true;
    }
    if (index.column() == targetColumn) {
        m_vm.setMappingTarget(id, value.toString());
        return true;
    }
    return false;
}

int GenreMappingTableModel::rowOf(const QUuid& id) const {
    for (qsizetype row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).id == id) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

void GenreMappingTableModel::sync() {
    const QList<GenreMapping> mappings = m_vm.settings().genreMappings();
    if (resetIfRowsChanged(mappings)) {
        return;
    }
    for (qsizetype row = 0; row < mappings.size(); ++row) {
        if (!(mappings.at(row) == m_rows.at(row))) {
            m_rows[row] = mappings.at(row);
            Q_EMIT dataChanged(index(int(row), 0), index(int(row), targetColumn));
        }
    }
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, columnCount_ - 1);
}
