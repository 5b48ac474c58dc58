#pragma once

#include "model/MusicFile.h"
#include "ui/manual/ManualModeViewModel.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QTimer>

class TableSelectionViewModel;

// The rows of the Manual mode table: the model's filtered, sorted files,
// cached and rebuilt when the list changes; a change to one row updates only
// that row. The first column is the row's checkbox (the table selection).
class ManualFileTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { check, title, artist, album, year, decade, genre, format, status, directory, columnCount_ };

    ManualFileTableModel(ManualModeViewModel* model, TableSelectionViewModel* selection,
                         QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const MusicFile& fileAt(int row) const { return m_rows.at(row); }
    // The sort key of a column; none for the columns that cannot be sorted.
    static std::optional<SortColumn> sortColumnFor(int column);
    static int columnFor(SortColumn sortColumn);
    // The spinner's step, advanced while some row is being looked up.
    int spinnerPhase() const { return m_spinnerPhase; }
    // Texts follow the language again.
    void retranslate();

private:
    void rebuild();
    void updateRow(const QUuid& id);
    void updateSpinner();

    ManualModeViewModel* m_model;
    TableSelectionViewModel* m_selection;
    QList<MusicFile> m_rows;
    QHash<QUuid, int> m_rowOf;
    int m_lookingUp = 0; // rows of m_rows being looked up
    QTimer m_spinner;
    QTimer m_resort; // a changed row may move or leave the filtered view
    int m_spinnerPhase = 0;
};
