#pragma once

#include "model/AudioFormat.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <mutex>
#include <optional>

class UniversalTagWriter;

// The undo log of the last write session: for every file a session is about
// to write, what its genre and year (and a repaired title and artist) were
// before. Only the last session can be undone, once; nothing is kept on disk.
//
// One shared instance; thread-safe. Recording and the session flag change
// together under one lock; the undo takes the whole list in one step and
// writes the files without holding the lock.
class WriteUndoManager {
public:
    struct UndoEntry {
        QString url;
        AudioFormat format = AudioFormat::unknown;
        QString originalGenre;           // the genre as read, unchanged
        std::optional<int> originalYear; // the file's year tag before the write
        // Whether the write set a year; only then is the original year written back.
        bool yearWritten = false;
        // The tag's own title and artist before a repair overwrote them.
        std::optional<QString> originalTitle;
        std::optional<QString> originalArtist;
        // Set once the write went through; an entry whose write failed stays
        // in the session but is skipped by the undo.
        bool written = false;

        bool operator==(const UndoEntry&) const = default;
    };

    struct UndoResult {
        int restored = 0;
        int failed = 0;
        QList<UndoEntry> restoredEntries; // in the order they were restored
    };

    // Handle of a recorded entry, for marking it written.
    using EntryId = std::uint64_t;

    static WriteUndoManager& shared();

    WriteUndoManager() = default;
    WriteUndoManager(const WriteUndoManager&) = delete;
    WriteUndoManager& operator=(const WriteUndoManager&) = delete;

    // Opening a session: set to true before the first write of a run; the next
    // recorded entry then first drops the previous session's entries.
    void setPendingNewSession(bool pending);
    bool pendingNewSession() const;

    // Empties the list first when a new session is pending (and clears the
    // flag), then appends the entry: one step.
    EntryId recordEntry(const UndoEntry& entry);
    // Marks an entry as written; nothing when it is no longer in the list.
    void markWritten(EntryId id);

    // The entries of the current session in recording order.
    QList<UndoEntry> entries() const;
    bool isEmpty() const;

    // Takes and empties the list at once (the flag keeps its value), then
    // writes the recorded values back through `writer`, newest entry first,
    // so a file written twice ends with the values it had before the session.
    // Entries whose write never went through are skipped and not counted.
    // Never throws.
    UndoResult undoLastSession(UniversalTagWriter& writer);

private:
    struct Slot {
        EntryId id;
        UndoEntry entry;
    };

    mutable std::mutex m_mutex;
    QList<Slot> m_entries;
    bool m_pendingNewSession = false;
    EntryId m_nextId = 1;
};
