#include "ui/auto/ProblemResolutionViewModel.h"

#include <algorithm>

ProblemResolutionViewModel::ProblemResolutionViewModel(Binding files, DoneHandler onDone, QObject* parent)
    : QObject(parent), m_files(std::move(files)), m_onDone(std::move(onDone)) {}

QList<MusicFile> ProblemResolutionViewModel::files() const {
    return m_files.read ? m_files.read() : QList<MusicFile>{};
}

int ProblemResolutionViewModel::totalCount() const {
    return int(files().size());
}

int ProblemResolutionViewModel::resolvedCount() const {
    const QList<MusicFile> list = files();
    return int(std::count_if(list.begin(), list.end(),
                             [](const MusicFile& file) { return file.effectiveYear().has_value(); }));
}

int ProblemResolutionViewModel::pendingCount() const {
    const QList<MusicFile> list = files();
    return int(std::count_if(list.begin(), list.end(), [](const MusicFile& file) {
        return file.status.kind() == ProcessingStatus::Kind::yearNotFound;
    }));
}

void ProblemResolutionViewModel::editYear(const MusicFile& file) {
    if (m_finished) {
        return;
    }
    Q_EMIT yearEditRequested(file);
}

void ProblemResolutionViewModel::saveManualYear(std::optional<int> year, const MusicFile& file) {
    if (!m_files.read || !m_files.write) {
        return;
    }
    const auto indexOf = [&](const QList<MusicFile>& list) {
        const auto found = std::find_if(list.begin(), list.end(),
                                        [&](const MusicFile& entry) { return entry.id == file.id; });
        return found == list.end() ? qsizetype(-1) : qsizetype(found - list.begin());
    };
    QList<MusicFile> list = m_files.read();
    qsizetype index = indexOf(list);
    if (index < 0) {
        return;
    }
    list[index].manualYear = year;
    m_files.write(list);
    if (year) {
        // Read again and find the file by id: the presenter's list may have
        // changed shape on writing, so the old index could name another file.
        list = m_files.read();
        index = indexOf(list);
        if (index >= 0) {
            list[index].status = ProcessingStatus::yearFound(*year);
            m_files.write(list);
        }
    }
    Q_EMIT filesChanged();
}

void ProblemResolutionViewModel::skipAll() {
    finish(Ending::skipAll, {});
}

void ProblemResolutionViewModel::finishAll() {
    finish(Ending::all, files());
}

void ProblemResolutionViewModel::finishWithYears() {
    QList<MusicFile> withYears;
    for (const MusicFile& file : files()) {
        if (file.effectiveYear()) {
            withYears.append(file);
        }
    }
    finish(Ending::withYears, withYears);
}

void ProblemResolutionViewModel::finish(Ending ending, const QList<MusicFile>& result) {
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_ending = ending;
    Q_EMIT finished();
    if (m_onDone) {
        m_onDone(result);
    }
}
