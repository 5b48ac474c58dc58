#include "services/WriteUndoManager.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "tagio/UniversalTagWriter.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <utility>

WriteUndoManager& WriteUndoManager::shared() {
    static WriteUndoManager instance;
    return instance;
}

WriteUndoManager::SessionId WriteUndoManager::openLocked() {
    // The session pending so far wrote nothing: its entries have nothing to restore.
    m_pendingEntries.clear();
    m_pending = m_nextSession++;
    return m_pending;
}

WriteUndoManager::SessionId WriteUndoManager::openSession() {
    std::lock_guard lock(m_mutex);
    return openLocked();
}

WriteUndoManager::SessionId WriteUndoManager::currentSession() const {
    std::lock_guard lock(m_mutex);
    return m_current;
}

bool WriteUndoManager::holdsUndoableSession(const QSet<SessionId>& owned) const {
    std::lock_guard lock(m_mutex);
    if (m_current == 0 || !owned.contains(m_current)) {
        return false;
    }
    return std::any_of(m_entries.begin(), m_entries.end(),
                       [](const Slot& slot) { return slot.entry.written; });
}

void WriteUndoManager::setPendingNewSession(bool pending) {
    std::lock_guard lock(m_mutex);
    if (pending) {
        openLocked();
    } else {
        m_pendingEntries.clear();
        m_pending = 0;
    }
}

WriteUndoManager::EntryId WriteUndoManager::appendLocked(QList<Slot>& list, const UndoEntry& entry) {
    const EntryId id = m_nextId++;
    list.append(Slot{id, entry});
    return id;
}

WriteUndoManager::EntryId WriteUndoManager::recordEntry(const UndoEntry& entry, SessionId session) {
    std::lock_guard lock(m_mutex);
    if (session == 0) {
        return 0;
    }
    if (session == m_pending) {
        return appendLocked(m_pendingEntries, entry);
    }
    if (session != m_current) {
        return 0;
    }
    return appendLocked(m_entries, entry);
}

WriteUndoManager::EntryId WriteUndoManager::recordEntry(const UndoEntry& entry) {
    std::lock_guard lock(m_mutex);
    if (m_pending != 0) {
        return appendLocked(m_pendingEntries, entry);
    }
    if (m_current == 0) {
        m_current = m_nextSession++;
    }
    return appendLocked(m_entries, entry);
}

void WriteUndoManager::markWritten(EntryId id, const std::optional<FileIdentity>& identity) {
    std::lock_guard lock(m_mutex);
    const auto mark = [&](QList<Slot>& list) {
        const auto slot = std::find_if(list.begin(), list.end(),
                                       [id](const Slot& candidate) { return candidate.id == id; });
        if (slot == list.end()) {
            return false;
        }
        slot->entry.written = true;
        slot->entry.identity = identity;
        return true;
    };
    if (mark(m_entries) || !mark(m_pendingEntries)) {
        return;
    }
    // The pending session's first write went through: it replaces the session before.
    m_entries = std::exchange(m_pendingEntries, {});
    m_current = std::exchange(m_pending, 0);
}

QList<WriteUndoManager::UndoEntry> WriteUndoManager::entries() const {
    std::lock_guard lock(m_mutex);
    QList<UndoEntry> out;
    out.reserve(m_entries.size());
    for (const Slot& slot : m_entries) {
        out.append(slot.entry);
    }
    return out;
}

bool WriteUndoManager::isEmpty() const {
    std::lock_guard lock(m_mutex);
    return m_entries.isEmpty();
}

WriteUndoManager::UndoResult WriteUndoManager::undoLastSession(UniversalTagWriter& writer) {
    QList<Slot> taken;
    {
        std::lock_guard lock(m_mutex);
        taken.swap(m_entries);
        m_current = 0;
    }
    return restore(taken, writer);
}

WriteUndoManager::UndoResult WriteUndoManager::undoLastSession(UniversalTagWriter& writer,
                                                               SessionId session) {
    QList<Slot> taken;
    {
        std::lock_guard lock(m_mutex);
        if (session == 0 || session != m_current) {
            Console::line(QStringLiteral("[WriteUndoManager] Nothing to undo for this session"));
            return {};
        }
        taken.swap(m_entries);
        m_current = 0;
    }
    return restore(taken, writer);
}

WriteUndoManager::UndoResult WriteUndoManager::restore(const QList<Slot>& taken, UniversalTagWriter& writer) {
    UndoResult result;
    // A file written twice: its older entry expects the file as the undo of the newer one left it.
    QHash<QString, FileIdentity> restoredAs;
    for (auto it = taken.crbegin(); it != taken.crend(); ++it) {
        const UndoEntry& entry = it->entry;
        if (!entry.written) {
            continue;
        }
        const QString name = QFileInfo(entry.url).fileName();
        std::optional<TagYear> year;
        const QString dateText = entry.originalDateText.value_or(QString());
        if (entry.yearWritten && entry.hadNoDate) {
            year = TagYear::noDate();
        } else if (entry.yearWritten && (entry.originalYear || !dateText.isEmpty())) {
            year = TagYear(entry.originalYear.value_or(0), dateText);
        }
        try {
            const auto earlier = restoredAs.constFind(entry.url);
            const FileIdentity now = writer.writeGenre(
                entry.originalGenre, year, entry.originalTitle, entry.originalArtist, entry.url, entry.format,
                earlier != restoredAs.cend() ? *earlier : entry.identity);
            restoredAs.insert(entry.url, now);
            Console::line(QStringLiteral("[WriteUndoManager] Restored ") + name +
                          QStringLiteral(": genre='") + entry.originalGenre + QStringLiteral("' year=") +
                          (year ? year->text() : QStringLiteral("nil")));
            ++result.restored;
            result.restoredEntries.append(entry);
            result.restoredEntries.last().identity = now;
        } catch (const AppError& error) {
            Console::line(QStringLiteral("[WriteUndoManager] Failed to restore ") + name +
                          QStringLiteral(": ") + error.errorDescription());
            ++result.failed;
        } catch (const std::exception& error) {
            Console::line(QStringLiteral("[WriteUndoManager] Failed to restore ") + name +
                          QStringLiteral(": ") + QString::fromLocal8Bit(error.what()));
            ++result.failed;
        }
    }
    Console::line(QStringLiteral("[WriteUndoManager] Undo complete: ") + QString::number(result.restored) +
                  QStringLiteral(" restored, ") + QString::number(result.failed) + QStringLiteral(" failed"));
    return result;
}
