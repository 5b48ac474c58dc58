#pragma once

#include "model/MusicFile.h"
#include "model/Progress.h"
#include "model/SettingsSnapshot.h"
#include "services/BackgroundWork.h"
#include "services/CancelToken.h"
#include "services/FileScannerService.h"
#include "services/ModeServices.h"
#include "services/WriteUndoManager.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

// Auto mode's state and engine: one run scans a folder, keeps W files in
// flight (each one blocking job on the run's pool: read, skip test, lookup,
// write), turns every result into counters, a log line and possibly a problem
// file, and ends with a summary. It also chooses the folder, cancels a run and
// undoes the last write session it opened.
//
// Lives on the main thread; every published change happens there. Results
// come back by queued invocation and are applied in completion order; the
// next file starts, in list order, after a result has been handled.
class AutoModeViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString selectedDirectory READ selectedDirectory NOTIFY selectedDirectoryChanged)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool isFinished READ isFinished NOTIFY isFinishedChanged)
    Q_PROPERTY(ProcessingPhase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(Progress progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString currentFile READ currentFile NOTIFY currentFileChanged)
    Q_PROPERTY(QList<LogEntry> log READ log NOTIFY logChanged)
    Q_PROPERTY(
        QList<MusicFile> problemFiles READ problemFiles WRITE setProblemFiles NOTIFY problemFilesChanged)
    Q_PROPERTY(bool showProblemResolution READ showProblemResolution WRITE setShowProblemResolution NOTIFY
                   showProblemResolutionChanged)
    Q_PROPERTY(Statistics statistics READ statistics NOTIFY statisticsChanged)
    Q_PROPERTY(bool canUndo READ canUndo NOTIFY canUndoChanged)
    Q_PROPERTY(bool canStart READ canStart NOTIFY canStartChanged)
    Q_PROPERTY(bool wasCancelled READ wasCancelled NOTIFY isFinishedChanged)
    Q_PROPERTY(bool writesBlocked READ writesBlocked NOTIFY writesBlockedChanged)

public:
    enum class ProcessingPhase { idle, scanning, processing, done };
    Q_ENUM(ProcessingPhase)
    enum class LogKind { info, success, skipped, error };
    Q_ENUM(LogKind)

    struct LogEntry {
        QUuid id;
        QDateTime time;
        QString message;
        LogKind kind = LogKind::info;
    };

    struct Statistics {
        int total = 0;
        int updated = 0;
        int skipped = 0;
        int problems = 0;
        bool operator==(const Statistics&) const = default;
    };

    // What one file's job came to.
    struct Outcome {
        enum class Kind {
            skipped,
            updated,
            writeFailed,
            loadFailed,
            alreadyUpToDate,
            yearNotFound,
            notWritten
        };
        Kind kind = Kind::loadFailed;
        // The label (skipped), the genre written (updated), the message
        // (writeFailed) or the reason the file could not be read, if one is named (loadFailed).
        QString text;
    };

    struct ProcessingTaskResult {
        int index = 0;
        QString url;
        std::optional<MusicFile> file; // none when the file could not be read
        Outcome outcome;
        // The lookup sources that failed for this file.
        QList<SourceFailure> failures;
    };

    // The services of the view model and its folder chooser; empty services
    // become the program's own (ModeServices::fillDefaults); without a folder
    // chooser the screen asks.
    struct Dependencies : ModeServices {
        // Asks the user for one folder; none when the user cancels.
        std::function<std::optional<QString>()> chooseFolder;
    };

    // A job's services with the run's cancel token and undo session.
    struct JobContext : ModeServices {
        CancelToken cancel;
        WriteUndoManager::SessionId session = 0;
    };

    explicit AutoModeViewModel(QObject* parent = nullptr);
    explicit AutoModeViewModel(Dependencies dependencies, QObject* parent = nullptr);
    // Cancels and waits for the jobs in flight: a write already begun finishes.
    ~AutoModeViewModel() override;

    const QString& selectedDirectory() const { return m_selectedDirectory; }
    bool isRunning() const { return m_isRunning; }
    bool isFinished() const { return m_isFinished; }
    ProcessingPhase phase() const { return m_phase; }
    Progress progress() const { return m_progress; }
    const QString& currentFile() const { return m_currentFile; }
    const QList<LogEntry>& log() const { return m_log; }
    const QList<MusicFile>& problemFiles() const { return m_problemFiles; }
    bool showProblemResolution() const { return m_showProblemResolution; }
    Statistics statistics() const { return m_statistics; }
    bool canUndo() const { return m_canUndo; }
    // What Undo would restore: the files written in the session it undoes and
    // when that session's run started; `latestRun` is false when a later run
    // wrote nothing and Undo reaches back to an earlier one. No files when
    // nothing can be undone.
    struct UndoTarget {
        int files = 0;
        QDateTime runStarted;
        bool latestRun = true;
    };
    UndoTarget undoTarget() const;
    // The last run ended through a cancel.
    bool wasCancelled() const { return m_wasCancelled; }
    bool hasFolderChooser() const { return bool(m_deps.chooseFolder); }
    // The verdict of the completion panel: success only for a run that ended
    // normally without a single problem (also one no longer in the list).
    bool endedSuccessfully() const;
    // Its title: the cancel line, the error line of a folder that could not be
    // worked on, or success or problems.
    QString completionTitle() const;

    // A folder is chosen and no write holds the gate: neither the other
    // mode's nor this mode's, also not a cancelled one whose files in flight
    // are still landing.
    bool canStart() const;
    // Manual mode holds the write gate: Start and Undo wait for it.
    bool writesBlocked() const { return gateHeldByOther(); }
    double progressFraction() const;
    // The overall bar: a step for the scan, then the files handled; full
    // only for a run that was not cancelled.
    double overallFraction() const;
    QString phaseText() const;
    // Files in flight at most in the run going now (0 before the first run).
    int concurrency() const { return m_concurrency; }

    void setProblemFiles(const QList<MusicFile>& files);
    void setShowProblemResolution(bool show);
    // Picks the folder of the next run through the injected chooser; nothing
    // while a run or an undo is going.
    void chooseDirectory();
    // Sets the folder directly (what a confirmed chooser does).
    void selectDirectory(const QString& folder);
    void startProcessing();
    void cancelProcessing();
    void undoLastWrite();
    // The problem sheet's "Update Selected": closes the sheet and writes the
    // files that have a year (typed, found or from the tag) as a write of
    // their own: under the write gate, in a new undo session, with a log line
    // per file and a summary. Written and skipped files leave the problem
    // list and its count; a failed write stays in it with its message. While
    // a run, an undo or the other mode holds the gate, nothing is written and
    // the years stay in the list. Cancel stops it after the file being
    // written; the files not yet written keep their years in the list.
    void updateResolvedFiles(const QList<MusicFile>& files);

    // The work on one file, blocking, on a worker thread. Never throws; after
    // a cancel it begins no write.
    static ProcessingTaskResult processFile(const JobContext& context, const QString& url, int index,
                                            int total);
    // The position prefix of a file: "0001/0250".
    static QString positionPrefix(int index, int total);

    static constexpr int maxLogEntries = 500;
    static constexpr int maxProblemFiles = 200;

Q_SIGNALS:
    void selectedDirectoryChanged();
    void isRunningChanged();
    void isFinishedChanged();
    void phaseChanged();
    void progressChanged();
    void currentFileChanged();
    void logChanged();
    // Finer steps of the log for list models: one entry appended after
    // `droppedFromFront` entries were removed at the front; the log emptied.
    void logEntryAppended(const AutoModeViewModel::LogEntry& entry, int droppedFromFront);
    void logCleared();
    void problemFilesChanged();
    void showProblemResolutionChanged();
    void statisticsChanged();
    void canUndoChanged();
    void canStartChanged();
    void writesBlockedChanged();

public:
    // Turns one handled result into a counter step, a log line and possibly
    // a problem file.
    void handleResult(const ProcessingTaskResult& result);

private:
    struct Run;

    void appendLog(const QString& message, LogKind kind);
    void clearRunState();

    void beginRun(const std::shared_ptr<Run>& run);
    void scanFinished(const std::shared_ptr<Run>& run, const QStringList& urls,
                      const QList<FileScannerService::Unreadable>& unreadableFolders, const QString& error);
    void submitNext(const std::shared_ptr<Run>& run);
    void resultArrived(const std::shared_ptr<Run>& run, const ProcessingTaskResult& result);
    void finishRun(const std::shared_ptr<Run>& run);
    void finishEarly(const std::shared_ptr<Run>& run);
    void undoFinished(quint64 generation, int restored, int failed);
    void resolvedFilesWritten(quint64 generation, const QList<ProcessingTaskResult>& results, bool cancelled);
    bool publishes(const std::shared_ptr<Run>& run) const;

    // The process-wide write gate: one write session (a run of either mode,
    // an undo) at a time.
    bool gateHeld() const;
    bool gateHeldByOther() const;
    bool tryAcquireGate();
    void releaseGate();
    void gateChanged();

    void setRunning(bool value);
    void setFinished(bool value);
    void setPhase(ProcessingPhase value);
    void setProgress(Progress value);
    void setCurrentFile(const QString& value);
    void setStatistics(const Statistics& value);
    void setCanUndo(bool value);
    void updateCanStart();

    Dependencies m_deps;

    QString m_selectedDirectory;
    bool m_isRunning = false;
    bool m_isFinished = false;
    ProcessingPhase m_phase = ProcessingPhase::idle;
    Progress m_progress;
    QString m_currentFile;
    QList<LogEntry> m_log;
    QList<MusicFile> m_problemFiles;
    bool m_showProblemResolution = false;
    Statistics m_statistics;
    bool m_canUndo = false;
    bool m_wasCancelled = false;
    // The error line of a run that could not work on its folder (a scan
    // failure, no audio files); empty otherwise.
    QString m_failureLine;
    bool m_lastCanStart = false;
    int m_concurrency = 0;

    std::shared_ptr<Run> m_run; // the run of the current generation, if any
    CancelToken m_resolvedWrite;    // cancels the problem sheet's write in flight
    bool m_undoInFlight = false;
    bool m_holdsGate = false;
    // The undo sessions this view model opened: only those it may undo.
    QSet<WriteUndoManager::SessionId> m_ownSessions;
    QHash<WriteUndoManager::SessionId, QDateTime> m_sessionStarts;
    WriteUndoManager::SessionId m_latestRunSession = 0;

    // The jobs: up to ten files in flight plus the scan or the undo. Its
    // generation is raised by every start and folder choice: a run or undo of
    // an older generation no longer touches published state. Declared last,
    // so its workers end first.
    BackgroundWork m_work{{11}};
};

Q_DECLARE_METATYPE(AutoModeViewModel::LogEntry)
Q_DECLARE_METATYPE(AutoModeViewModel::Statistics)
