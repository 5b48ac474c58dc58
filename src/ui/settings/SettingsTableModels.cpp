#include "ui/settings/SettingsTableModels.h"

#include "ui/Look.h"

#include <QColor>

namespace {

template <typename T> bool sameRows(const QList<T>& a, const QList<T>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const T& x, const T& y) { return x.id == y.id; });
}

QIcon removeIcon() {
    return Look::symbolIcon(QStringLiteral("minus.circle.fill"));
}

} // namespace

DecadeRuleTableModel::DecadeRuleTableModel(SettingsViewModel& viewModel, QObject* parent)
    : QAbstractTableModel(parent), m_vm(viewModel), m_rules(viewModel.settings().decadeRules()),
      m_affected(viewModel.affectedRuleIDs()) {}

int DecadeRuleTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rules.size());
}

int DecadeRuleTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant DecadeRuleTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rules.size()) {
        return {};
    }
    const DecadeRule& rule = m_rules.at(index.row());
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
    } else if (role == Qt::DecorationRole && column == removeColumn) {
        return removeIcon();
    } else if (role == Qt::ToolTipRole && column == removeColumn) {
        return localizedText(QStringLiteral("Entfernen"), QStringLiteral("Remove"), m_vm.language());
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

Qt::ItemFlags DecadeRuleTableModel::flags(const QModelIndex& index) const {
    const Qt::ItemFlags base = QAbstractTableModel::flags(index);
    return index.column() == removeColumn ? base : base | Qt::ItemIsEditable;
}

bool DecadeRuleTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.row() >= m_rules.size()) {
        return false;
    }
    const QUuid id = m_rules.at(index.row()).id;
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

QUuid DecadeRuleTableModel::idAt(int row) const {
    return row >= 0 && row < m_rules.size() ? m_rules.at(row).id : QUuid();
}

void DecadeRuleTableModel::sync() {
    const QList<DecadeRule> rules = m_vm.settings().decadeRules();
    const QSet<QUuid> affected = m_vm.affectedRuleIDs();
    if (!sameRows(rules, m_rules)) {
        beginResetModel();
        m_rules = rules;
        m_affected = affected;
        endResetModel();
        return;
    }
    // Only cells whose content changed are announced: an announcement also
    // resets the text of an editor open on that cell.
    for (qsizetype row = 0; row < rules.size(); ++row) {
        const bool changed = !(rules.at(row) == m_rules.at(row));
        const bool marked = affected.contains(rules.at(row).id) != m_affected.contains(rules.at(row).id);
        m_rules[row] = rules.at(row);
        if (changed || marked) {
            Q_EMIT dataChanged(index(int(row), 0), index(int(row), changed ? labelColumn : toColumn));
        }
    }
    m_affected = affected;
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, columnCount_ - 1);
}

// ---------------------------------------------------------------------------

GenreMappingTableModel::GenreMappingTableModel(SettingsViewModel& viewModel, QObject* parent)
    : QAbstractTableModel(parent), m_vm(viewModel), m_mappings(viewModel.settings().genreMappings()) {}

int GenreMappingTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_mappings.size());
}

int GenreMappingTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant GenreMappingTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_mappings.size()) {
        return {};
    }
    const GenreMapping& mapping = m_mappings.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        if (index.column() == sourceColumn) {
            return mapping.source;
        }
        if (index.column() == targetColumn) {
            return mapping.target;
        }
    } else if (role == Qt::DecorationRole && index.column() == removeColumn) {
        return removeIcon();
    } else if (role == Qt::ToolTipRole && index.column() == removeColumn) {
        return localizedText(QStringLiteral("Entfernen"), QStringLiteral("Remove"), m_vm.language());
    }
    return {};
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

Qt::ItemFlags GenreMappingTableModel::flags(const QModelIndex& index) const {
    const Qt::ItemFlags base = QAbstractTableModel::flags(index);
    return index.column() == removeColumn ? base : base | Qt::ItemIsEditable;
}

bool GenreMappingTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.row() >= m_mappings.size()) {
        return false;
    }
    const QUuid id = m_mappings.at(index.row()).id;
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

QUuid GenreMappingTableModel::idAt(int row) const {
    return row >= 0 && row < m_mappings.size() ? m_mappings.at(row).id : QUuid();
}

int GenreMappingTableModel::rowOf(const QUuid& id) const {
    for (qsizetype row = 0; row < m_mappings.size(); ++row) {
        if (m_mappings.at(row).id == id) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

void GenreMappingTableModel::sync() {
    const QList<GenreMapping> mappings = m_vm.settings().genreMappings();
    if (!sameRows(mappings, m_mappings)) {
        beginResetModel();
        m_mappings = mappings;
        endResetModel();
        return;
    }
    for (qsizetype row = 0; row < mappings.size(); ++row) {
        if (!(mappings.at(row) == m_mappings.at(row))) {
            m_mappings[row] = mappings.at(row);
            Q_EMIT dataChanged(index(int(row), 0), index(int(row), targetColumn));
        }
    }
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, columnCount_ - 1);
}
