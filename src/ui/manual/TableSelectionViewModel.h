#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QUuid>

class ManualModeViewModel;

// The checked rows of the Manual mode table, by row id. It may hold rows the
// filters hide. It empties itself whenever a row is added, removed or changed
// by a run (id or renderVersion), so a typed year leaves it alone.
class TableSelectionViewModel : public QObject {
    Q_OBJECT
public:
    explicit TableSelectionViewModel(ManualModeViewModel* model, QObject* parent = nullptr);

    const QSet<QUuid>& selection() const { return m_selection; }
    bool isSelected(const QUuid& id) const { return m_selection.contains(id); }
    void setSelected(const QUuid& id, bool selected);
    // Every shown row is checked (and at least one row is shown).
    bool allFilteredSelected() const;
    // Checks, or unchecks, every shown row; hidden rows keep their state.
    void setAllFilteredSelected(bool selected);
    void clear();

Q_SIGNALS:
    void changed();

private:
    void followFiles();

    ManualModeViewModel* m_model;
    QSet<QUuid> m_selection;
    QList<QPair<QUuid, int>> m_seen;
};
