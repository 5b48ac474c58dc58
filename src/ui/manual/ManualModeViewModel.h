#pragma once

#include "model/MusicFile.h"
#include "model/Progress.h"
#include "services/AIService.h"
#include "services/BackgroundWork.h"
#include "services/CancelToken.h"
#include "services/FileScannerService.h"
#include "services/ModeServices.h"
#include "services/WriteUndoManager.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The keys the Manual mode table can be sorted by. Raw values are the case names.
enum class SortColumn { title, artist, album, year, decade, genre, format, duration, status, directory };

QString rawValue(SortColumn column);
std::optional<SortColumn> sortColumnFromRawValue(const QString& raw);
const QList<SortColumn>& allSortColumns();

// One sort request of the table: the column whose header was clicked and the direction.
struct SortDescriptor {
    SortColumn column = SortColumn::title;
    bool ascending = true;
};

struct StatusCounts {
    int total = 0;
    int yearFound = 0;
    int notFound = 0;
    int genreFound = 0;
    int updated = 0;
    int skipped = 0;
    int errors = 0;
    bool operator==(const StatusCounts&) const = default;
};

// The state and operations behind the Manual mode screen: the loaded rows,
// folder scan and dropped files, the windowed lookup, the write of the checked
// rows with its undo, sorting, filtering and counts.
//
// Main thread only. The long operations run one at a time on workers and hand
// their results back by queued calls, each applied before the next file
// starts. Every run has a cancel token and a generation number; the end steps
// of a run that was cancelled or replaced never touch a newer run's state.
// Writes and undo never overlap: neither starts while a file of an earlier
// write is still landing, or while another mode holds the write session gate.
class ManualModeViewModel : public QObject {
    Q_OBJECT
public:
    // The services of the view model; empty ones become the program's own
    // (ModeServices::fillDefaults).
    using Dependencies = ModeServices;

    explicit ManualModeViewModel(QObject* parent = nullptr);
    explicit ManualModeViewModel(Dependencies dependencies, QObject* parent = nullptr);
    // Cancels the running operation and waits for its workers; a file being
    // written is finished first.
    ~ManualModeViewModel() override;

    const QList<MusicFile>& files() const { return m_files; }
    bool isScanning() const { return m_isScanning; }
    bool isLookingUp() const { return m_isLookingUp; }
    bool isUpdating() const { return m_isUpdating; }
    bool isBusy() const { return m_isScanning || m_isLookingUp || m_isUpdating; }
    Progress scanProgress() const { return m_scanProgress; }
    Progress lookupProgress() const { return m_lookupProgress; }
    Progress updateProgress() const { return m_updateProgress; }
    const std::optional<QString>& selectedDirectory() const { return m_selectedDirectory; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    // The files and folders the last scan and the drops since could not read
    // (unreadable, broken or oversized, a name that is not UTF-8), in the
    // order met; emptied by a new folder and by Clear List.
    const QStringList& unreadableFiles() const { return m_unreadableFiles; }
    // The reason after the name of a listed file or folder, in parentheses:
    // " (Zugriff verweigert)" / " (Permission denied)" for one the user may not
    // read, the read's error for a file refused by its read; empty when there
    // is no reason.
    QString unreadableSuffix(const QString& path) const;
    void clearErrorMessage();
    SortColumn sortColumn() const { return m_sortColumn; }
    bool sortAscending() const { return m_sortAscending; }
    void setSort(SortColumn column, bool ascending);
    const QString& filterText() const { return m_filterText; }
    void setFilterText(const QString& text);
    bool showOnlyProblematic() const { return m_showOnlyProblematic; }
    void setShowOnlyProblematic(bool on);

    // An undo of this model's last write run is offered: set when the run
    // ends, and only while the undo log still holds written entries of a
    // session this model opened since the last clearAll.
    bool canUndo() const;
    // A write or undo of this model still has a file on its worker (also after a cancel).
    bool isWriteInFlight() const { return m_writesInFlight > 0; }
    // Update Selected and Undo may start: nothing runs, no write of ours is
    // landing and no other holder has the write session gate.
    bool canStartWrite() const;

    // The shown rows: filtered, then sorted (stable). Kept between calls and
    // patched in place while a row change leaves its place and its filter result alone.
    QList<MusicFile> filteredFiles() const;
    QList<MusicFile> problematicFiles() const;
    StatusCounts statusCounts() const;

    // A folder picked in the screen's folder panel: becomes the selected
    // folder, empties the list and the message; no scan.
    void chooseDirectory(const QString& folder);
    void startScan();
    void addFiles(const QStringList& paths);
    void lookupSelected(const QSet<QUuid>& ids);
    void updateSelected(const QSet<QUuid>& ids);
    void undoLastWrite();
    void setManualYear(std::optional<int> year, const MusicFile& file);
    void cancelAll();
    void clearAll();
    void applySort(const QList<SortDescriptor>& descriptors);
    void modifyFile(const QUuid& id, const std::function<void(MusicFile&)>& mutation);
    // Puts the given rows in place of the rows with the same id, unchanged
    // otherwise (renderVersion included); rows no longer in the list are left out.
    void replaceFilesById(const QList<MusicFile>& rows);
    // The row with this id, or null; valid until the list next changes.
    const MusicFile* findFile(const QUuid& id) const;

    // The decade rules, from the settings.
    QList<DecadeRule> decadeRules() const;

Q_SIGNALS:
    // The list as a whole changed (also its order or filter).
    void filesChanged();
    // One row changed in place.
    void fileChanged(const QUuid& id);
    // Flags, folder, message, sort, filter or undo availability changed.
    void stateChanged();
    // Only a progress pair moved (once per file).
    void progressChanged();

private:
    struct LookupRun;
    struct WriteRun;

    int indexOf(const QUuid& id) const;
    // After m_files was replaced, emptied or extended: the id index is rebuilt, the shown rows dropped.
    void filesReplaced();
    bool isShown(const MusicFile& f, const QString& query) const;
    // Filters and sorts m_files into m_shown's order.
    void sortShown(QList<DecadeRule> rules) const;
    void setRow(int index, const MusicFile& row);
    quint64 beginRun();
    void setScanProgress(Progress progress);
    void runScan(quint64 generation, const CancelToken& cancel, QStringList paths, bool expandFolders,
                 bool replace);
    void finishScan(const CancelToken& cancel, const QList<MusicFile>& rows,
                    const QList<FileScannerService::Unreadable>& unreadable, bool replace,
                    const std::optional<QString>& failure);
    void startLookupEntry(const std::shared_ptr<LookupRun>& run);
    void applyLookupResult(const std::shared_ptr<LookupRun>& run, const QUuid& id,
                           const std::optional<int>& year, const std::optional<QString>& genre,
                           const QList<SourceFailure>& failures);
    void startNextWrite(const std::shared_ptr<WriteRun>& run);
    void applyWriteResult(const std::shared_ptr<WriteRun>& run, const MusicFile& row, bool success,
                          const std::optional<QString>& message, const std::optional<QString>& writtenGenre,
                          const std::optional<FileIdentity>& identity);
    void finishWriteRun(const std::shared_ptr<WriteRun>& run);
    void applyUndoResult(quint64 generation, const WriteUndoManager::UndoResult& result);

    Dependencies m_deps;

    QList<MusicFile> m_files;
    QHash<QUuid, qsizetype> m_indexById;
    // filteredFiles() as last computed: positions in m_files in shown order,
    // the shown place of every file (-1 when filtered out), and the rows.
    struct Shown {
        bool valid = false;
        bool rowsValid = false;
        QString query;
        QList<DecadeRule> rules;
        std::vector<qsizetype> order;
        std::vector<qsizetype> placeOf;
        QList<MusicFile> rows;
    };
    mutable Shown m_shown;
    bool m_isScanning = false;
    bool m_isLookingUp = false;
    bool m_isUpdating = false;
    Progress m_scanProgress;
    Progress m_lookupProgress;
    Progress m_updateProgress;
    std::optional<QString> m_selectedDirectory;
    std::optional<QString> m_errorMessage;
    QStringList m_unreadableFiles;
    QHash<QString, FileScannerService::Unreadable> m_unreadableItems; // m_unreadableFiles' reasons
    SortColumn m_sortColumn = SortColumn::title;
    bool m_sortAscending = true;
    QString m_filterText;
    bool m_showOnlyProblematic = false;
    bool m_canUndo = false;

    CancelToken m_cancel;
    // The rows of the current lookup that are searching, with the status each
    // had before; a cancel puts it back.
    QHash<QUuid, ProcessingStatus> m_statusBeforeLookup;
    int m_writesInFlight = 0;
    QSet<WriteUndoManager::SessionId> m_ownSessions;

    // Lookups run on the first lane, at most the window at a time; scan,
    // drop-add, writes and undo on the second, one file after another. The
    // generation is the one of the run going now. Declared last, so its
    // workers end first.
    static constexpr std::size_t lookupLane = 0;
    static constexpr std::size_t serialLane = 1;
    BackgroundWork m_work{{10, 1}};
};
