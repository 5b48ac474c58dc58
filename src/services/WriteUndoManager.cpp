#include "services/WriteUndoManager.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "tagio/UniversalTagWriter.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>

WriteUndoManager& WriteUndoManager::shared() {
    static WriteUndoManager instance;
    return instance;
}

WriteUndoManager::SessionId WriteUndoManager::openSession() {
    std::lock_guard lock(m_mutex);
    m_pending = m_nextSession++;
    return m_pending;
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
    m_pending = pending ? m_nextSession++ : 0;
}

WriteUndoManager::EntryId WriteUndoManager::appendLocked(const UndoEntry& entry) {
    const EntryId id = m_nextId++;
    m_entries.append(Slot{id, entry});
    return id;
}

WriteUndoManager::EntryId WriteUndoManager::recordEntry(const UndoEntry& entry, SessionId session) {
    std::lock_guard lock(m_mutex);
    if (session == 0) {
        return 0;
    }
    if (session == m_pending) {
        m_entries.clear();
        m_current = session;
        m_pending = 0;
    } else if (session != m_current) {
        return 0;
    }
    return appendLocked(entry);
}

WriteUndoManager::EntryId WriteUndoManager::recordEntry(const UndoEntry& entry) {
    std::lock_guard lock(m_mutex);
    if (m_pending != 0) {
        m_entries.clear();
        m_current = m_pending;
        m_pending = 0;
    } else if (m_current == 0) {
        m_current = m_nextSession++;
    }
    return appendLocked(entry);
}

void WriteUndoManager::markWritten(EntryId id, const std::optional<FileIdentity>& identity) {
    std::lock_guard lock(m_mutex);
    for (Slot& slot : m_entries) {
        if (slot.id == id) {
            slot.entry.written = true;
            slot.entry.identity = identity;
            return;
        }
    }
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
