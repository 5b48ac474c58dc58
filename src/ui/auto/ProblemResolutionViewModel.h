#pragma once

#include "model/MusicFile.h"

#include <QList>
#include <QObject>

#include <functional>
#include <optional>

// The logic of the problem sheet both modes show: it edits the presenter's
// list of files through a binding (read the list, write it back) and ends by
// handing a list to the presenter's completion, exactly once. It writes no
// tags and starts no lookup.
class ProblemResolutionViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(int totalCount READ totalCount NOTIFY filesChanged)
    Q_PROPERTY(int resolvedCount READ resolvedCount NOTIFY filesChanged)
    Q_PROPERTY(int pendingCount READ pendingCount NOTIFY filesChanged)
    Q_PROPERTY(bool isFinished READ isFinished NOTIFY finished)

public:
    struct Binding {
        std::function<QList<MusicFile>()> read;
        std::function<void(const QList<MusicFile>&)> write;
    };
    using DoneHandler = std::function<void(const QList<MusicFile>&)>;

    ProblemResolutionViewModel(Binding files, DoneHandler onDone, QObject* parent = nullptr);

    // The presenter's list as it is now.
    QList<MusicFile> files() const;
    int totalCount() const;
    // Files with a manual, discovered or tag year.
    int resolvedCount() const;
    // Files whose lookup found no year.
    int pendingCount() const;

    // Opens the year editor for a file (announced through yearEditRequested).
    void editYear(const MusicFile& file);

    // The year editor's save: sets the file's manual year (none clears it);
    // a year also marks the file as found. A file no longer in the list is ignored.
    void saveManualYear(std::optional<int> year, const MusicFile& file);

    // The finishing actions; only the first one reaches the completion.
    enum class Ending { none, skipAll, all, withYears };
    void skipAll();
    void finishAll();
    void finishWithYears();
    bool isFinished() const { return m_finished; }
    // Which action finished the sheet (none before): a presenter that writes
    // does so only for "Update Selected".
    Ending ending() const { return m_ending; }

    // The presenter changed the list by other means: redraw.
    void refresh() { Q_EMIT filesChanged(); }

Q_SIGNALS:
    void filesChanged();
    void yearEditRequested(const MusicFile& file);
    void finished();

private:
    void finish(Ending ending, const QList<MusicFile>& result);

    Binding m_files;
    DoneHandler m_onDone;
    bool m_finished = false;
    Ending m_ending = Ending::none;
};
