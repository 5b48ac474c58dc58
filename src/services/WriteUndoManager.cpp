#include "services/WriteUndoManager.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "tagio/UniversalTagWriter.h"

#include <QFileInfo>

WriteUndoManager& WriteUndoManager::shared() {
    static WriteUndoManager instance;
    return instance;
}

void WriteUndoManager::setPendingNewSession(bool pending) {
    std::lock_guard lock(m_mutex);
    m_pendingNewSession = pending;
}

bool WriteUndoManager::pendingNewSession() const {
    std::lock_guard lock(m_mutex);
    return m_pendingNewSession;
}

WriteUndoManager::EntryId WriteUndoManager::recordEntry(const UndoEntry& entry) {
    std::lock_guard lock(m_mutex);
    if (m_pendingNewSession) {
        m_entries.clear();
        m_pendingNewSession = false;
    }
    const EntryId id = m_nextId++;
    m_entries.append(Slot{id, entry});
    return id;
}

void WriteUndoManager::markWritten(EntryId id) {
    std::lock_guard lock(m_mutex);
    for (Slot& slot : m_entries) {
        if (slot.id == id) {
            slot.entry.written = true;
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
    }

    UndoResult result;
    for (auto it = taken.crbegin(); it != taken.crend(); ++it) {
        const UndoEntry& entry = it->entry;
        if (!entry.written) {
            continue;
        }
        const QString name = QFileInfo(entry.url).fileName();
        const std::optional<int> year = entry.yearWritten ? entry.originalYear : std::nullopt;
        try {
            writer.writeGenre(entry.originalGenre, year, entry.originalTitle, entry.originalArtist, entry.url,
                              entry.format);
            Console::line(QStringLiteral("[WriteUndoManager] Restored ") + name +
                          QStringLiteral(": genre='") + entry.originalGenre + QStringLiteral("' year=") +
                          (year ? QString::number(*year) : QStringLiteral("nil")));
            ++result.restored;
            result.restoredEntries.append(entry);
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
