#include "ui/manual/TableSelectionViewModel.h"

#include "ui/manual/ManualModeViewModel.h"

namespace {

QList<QPair<QUuid, int>> rowVersions(const QList<MusicFile>& files) {
    QList<QPair<QUuid, int>> out;
    out.reserve(files.size());
    for (const MusicFile& f : files) {
        out.append({f.id, f.renderVersion});
    }
    return out;
}

} // namespace

TableSelectionViewModel::TableSelectionViewModel(ManualModeViewModel* model, QObject* parent)
    : QObject(parent), m_model(model), m_seen(rowVersions(model->files())) {
    connect(model, &ManualModeViewModel::filesChanged, this, &TableSelectionViewModel::followFiles);
    connect(model, &ManualModeViewModel::fileChanged, this, &TableSelectionViewModel::followFiles);
}

void TableSelectionViewModel::followFiles() {
    QList<QPair<QUuid, int>> now = rowVersions(m_model->files());
    if (now == m_seen) {
        return;
    }
    m_seen = std::move(now);
    clear();
}

void TableSelectionViewModel::setSelected(const QUuid& id, bool selected) {
    if (selected == m_selection.contains(id)) {
        return;
    }
    if (selected) {
        m_selection.insert(id);
    } else {
        m_selection.remove(id);
    }
    Q_EMIT changed();
}

bool TableSelectionViewModel::allFilteredSelected() const {
    const QList<MusicFile> shown = m_model->filteredFiles();
    return !shown.isEmpty() && std::all_of(shown.begin(), shown.end(),
                                           [this](const MusicFile& f) { return m_selection.contains(f.id); });
}

void TableSelectionViewModel::setAllFilteredSelected(bool selected) {
    if (!selected && m_selection.isEmpty()) {
        return;
    }
    for (const MusicFile& f : m_model->filteredFiles()) {
        if (selected) {
            m_selection.insert(f.id);
        } else {
            m_selection.remove(f.id);
        }
    }
    Q_EMIT changed();
}

void TableSelectionViewModel::clear() {
    if (!m_selection.isEmpty()) {
        m_selection.clear();
        Q_EMIT changed();
    }
}
