#include "ui/manual/ManualFileTable.h"

#include "model/AppLanguage.h"
#include "ui/Look.h"
#include "ui/manual/StatusBadgeViewModel.h"
#include "ui/manual/TableSelectionViewModel.h"

#include <QApplication>
#include <QPalette>

namespace {

const QString kDash = QStringLiteral("\u2013");

QString columnTitle(int column) {
    switch (column) {
    case ManualFileTableModel::title:
        return localizedText(QStringLiteral("Titel"), QStringLiteral("Title"));
    case ManualFileTableModel::artist:
        return localizedText(QStringLiteral("Interpret"), QStringLiteral("Artist"));
    case ManualFileTableModel::album:
        return QStringLiteral("Album");
    case ManualFileTableModel::year:
        return localizedText(QStringLiteral("Jahr"), QStringLiteral("Year"));
    case ManualFileTableModel::decade:
        return localizedText(QStringLiteral("Jahrzehnt"), QStringLiteral("Decade"));
    case ManualFileTableModel::genre:
        return QStringLiteral("Genre");
    case ManualFileTableModel::format:
        return QStringLiteral("Format");
    case ManualFileTableModel::status:
        return QStringLiteral("Status");
    case ManualFileTableModel::directory:
        return localizedText(QStringLiteral("Verzeichnis"), QStringLiteral("Directory"));
    default:
        return {};
    }
}

bool isLookingUp(const MusicFile& f) {
    return f.status.kind() == ProcessingStatus::Kind::lookingUp;
}

} // namespace

ManualFileTableModel::ManualFileTableModel(ManualModeViewModel* model, TableSelectionViewModel* selection,
                                           QObject* parent)
    : QAbstractTableModel(parent), m_model(model), m_selection(selection) {
    m_resort.setSingleShot(true);
    m_resort.setInterval(100);
    connect(&m_resort, &QTimer::timeout, this, &ManualFileTableModel::rebuild);
    m_spinner.setInterval(80);
    connect(&m_spinner, &QTimer::timeout, this, [this] {
        m_spinnerPhase = (m_spinnerPhase + 1) % 12;
        for (int row = 0; row < m_rows.size(); ++row) {
            if (isLookingUp(m_rows.at(row))) {
                Q_EMIT dataChanged(index(row, status), index(row, status));
            }
        }
    });
    connect(model, &ManualModeViewModel::filesChanged, this, &ManualFileTableModel::rebuild);
    connect(model, &ManualModeViewModel::fileChanged, this, &ManualFileTableModel::updateRow);
    connect(selection, &TableSelectionViewModel::changed, this, [this] {
        if (!m_rows.isEmpty()) {
            Q_EMIT dataChanged(index(0, check), index(int(m_rows.size()) - 1, check), {Qt::CheckStateRole});
        }
    });
    rebuild();
}

void ManualFileTableModel::rebuild() {
    beginResetModel();
    m_rows = m_model->filteredFiles();
    m_rowOf.clear();
    m_rowOf.reserve(m_rows.size());
    m_lookingUp = 0;
    for (int row = int(m_rows.size()) - 1; row >= 0; --row) {
        m_rowOf.insert(m_rows.at(row).id, row); // the first row of an id wins
        m_lookingUp += isLookingUp(m_rows.at(row)) ? 1 : 0;
    }
    endResetModel();
    updateSpinner();
}

void ManualFileTableModel::updateRow(const QUuid& id) {
    if (const int row = m_rowOf.value(id, -1); row >= 0) {
        if (const MusicFile* f = m_model->findFile(id)) {
            m_lookingUp += (isLookingUp(*f) ? 1 : 0) - (isLookingUp(m_rows.at(row)) ? 1 : 0);
            m_rows[row] = *f;
        }
        Q_EMIT dataChanged(index(row, 0), index(row, columnCount_ - 1));
    }
    // Row changes come one per file; the order and the filter follow them in batches.
    static const QList<SortColumn> changing = {SortColumn::year, SortColumn::decade, SortColumn::genre};
    const bool filtered = !m_model->filterText().isEmpty() || m_model->showOnlyProblematic();
    if ((filtered || changing.contains(m_model->sortColumn())) && !m_resort.isActive()) {
        m_resort.start();
    }
    updateSpinner();
}

void ManualFileTableModel::updateSpinner() {
    const bool spinning = m_lookingUp > 0;
    if (spinning && !m_spinner.isActive()) {
        m_spinner.start();
    } else if (!spinning) {
        m_spinner.stop();
    }
}

void ManualFileTableModel::retranslate() {
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, columnCount_ - 1);
    if (!m_rows.isEmpty()) {
        Q_EMIT dataChanged(index(0, 0), index(int(m_rows.size()) - 1, columnCount_ - 1));
    }
}

int ManualFileTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ManualFileTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

std::optional<SortColumn> ManualFileTableModel::sortColumnFor(int column) {
    switch (column) {
    case title:
        return SortColumn::title;
    case artist:
        return SortColumn::artist;
    case album:
        return SortColumn::album;
    case year:
        return SortColumn::year;
    case decade:
        return SortColumn::decade;
    case genre:
        return SortColumn::genre;
    case directory:
        return SortColumn::directory;
    default:
        return std::nullopt;
    }
}

int ManualFileTableModel::columnFor(SortColumn sortColumn) {
    for (int column = 0; column < columnCount_; ++column) {
        if (sortColumnFor(column) == sortColumn) {
            return column;
        }
    }
    return -1;
}

QVariant ManualFileTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return columnTitle(section);
    }
    if (role == Qt::InitialSortOrderRole) {
        return Qt::AscendingOrder;
    }
    return {};
}

Qt::ItemFlags ManualFileTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = Qt::ItemIsEnabled;
    if (index.column() == check) {
        f |= Qt::ItemIsUserCheckable;
    }
    return f;
}

bool ManualFileTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (index.column() != check || role != Qt::CheckStateRole) {
        return false;
    }
    m_selection->setSelected(m_rows.at(index.row()).id, value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

QVariant ManualFileTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size()) {
        return {};
    }
    const MusicFile& f = m_rows.at(index.row());
    const QPalette palette = QApplication::palette();
    const QColor secondary = palette.color(QPalette::PlaceholderText);
    const int column = index.column();
    if (column == check) {
        return role == Qt::CheckStateRole
                   ? QVariant(m_selection->isSelected(f.id) ? Qt::Checked : Qt::Unchecked)
                   : QVariant();
    }
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case title:
            return f.title;
        case artist:
            return f.artist;
        case album:
            return f.album;
        case year:
            return f.effectiveYear() ? QString::number(*f.effectiveYear()) : kDash;
        case decade:
            return f.decadeLabel(m_model->decadeRules()).value_or(kDash);
        case genre:
            return Look::shownGenre(f.genre);
        case format:
            return rawValue(f.format).toUpper();
        case directory:
            return f.directoryPath();
        default:
            return {};
        }
    case Qt::ForegroundRole:
        switch (column) {
        case album:
        case directory:
            return secondary;
        case year:
            return f.effectiveYear() ? QVariant() : QVariant(secondary);
        case decade:
            return f.decadeLabel(m_model->decadeRules()) ? Look::statusColor(QStringLiteral("blue"), palette)
                                                         : secondary;
        case format:
            return isWritableFormat(f.format)
                       ? QVariant()
                       : QVariant(Look::statusColor(QStringLiteral("orange"), palette));
        default:
            return {};
        }
    case Qt::FontRole:
        if (column == directory) {
            return Look::caption(QApplication::font());
        }
        if (column == year || column == decade) {
            return Look::monospace();
        }
        return {};
    case Qt::ToolTipRole:
        return column == status ? Look::plainToolTip(statusDetail(f.status, f.discoveredGenre)) : QVariant();
    default:
        return {};
    }
}
