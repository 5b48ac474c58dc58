#pragma once

#include "model/AudioFormat.h"
#include "model/FileIdentity.h"

#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <mutex>
#include <optional>

class UniversalTagWriter;

// The undo log of the last write session: for every file a session is about
// to write, what its genre and year (and a repaired title and artist) were
// before. Only the last session can be undone, once; nothing is kept on disk.
//
// Every write run opens a session of its own (openSession) and passes its id
// with each entry, so the entries of two runs never mix and a mode can only
// undo the session it wrote. Entries are recorded before their write (the
// old values are read from the file as it still is), and a run keeps several
// files in flight at once; so a new session's entries are held aside until
// one of its writes went through, and only then replace the list. A run in
// which every write failed leaves the previous session to undo.
//
// One shared instance; thread-safe. Recording, marking and the session state
// change together under one lock; the undo takes the whole list in one step
// and writes the files without holding the lock.
class WriteUndoManager {
public:
    struct UndoEntry {
        QString url;
        AudioFormat format = AudioFormat::unknown;
        QString originalGenre;           // the genre as read, unchanged; empty: the file had none
        std::optional<int> originalYear; // the file's year tag before the write
        // The full date the tag held where the year came from ("1987-06-01"),
        // as stored, also one the reader refused ("2099"); the undo writes it
        // back instead of the bare year.
        std::optional<QString> originalDateText;
        // The tag was read and held no date: the undo removes the one the write added.
        bool hadNoDate = false;
        // Whether the write set a year; only then is the original year written back.
        bool yearWritten = false;
        // The tag's own title and artist before a repair overwrote them.
        std::optional<QString> originalTitle;
        std::optional<QString> originalArtist;
        // Set once the write went through; an entry whose write failed stays
        // in the session but is skipped by the undo.
        bool written = false;
        // The file's identity right after the write (in UndoResult::restoredEntries:
        // after the undo's write); the undo refuses a file changed since.
        std::optional<FileIdentity> identity;

        bool operator==(const UndoEntry&) const = default;
    };

    struct UndoResult {
        int restored = 0;
        int failed = 0;
        QList<UndoEntry> restoredEntries; // in the order they were restored
    };

    // Handle of a recorded entry, for marking it written; 0 for an entry
    // that was not recorded.
    using EntryId = std::uint64_t;
    // Identity of a write session; 0 is no session.
    using SessionId = std::uint64_t;

    static WriteUndoManager& shared();

    WriteUndoManager() = default;
    WriteUndoManager(const WriteUndoManager&) = delete;
    WriteUndoManager& operator=(const WriteUndoManager&) = delete;

    // Opens a new session, pending until the first of its writes went
    // through; the list still holds the previous session until then. A
    // session opened later replaces a pending one, with the entries it
    // recorded (none of them was written).
    SessionId openSession();
    // The session whose entries the list holds; 0 when none.
    SessionId currentSession() const;
    // Whether an owner of `owned` has something to undo: the current session
    // is one of them and holds an entry whose write went through. A mode
    // offers Undo only for the sessions it opened itself.
    bool holdsUndoableSession(const QSet<SessionId>& owned) const;

    // One step under the lock: an entry of the pending session is held aside
    // with that session's others; an entry of the current session is
    // appended; an entry of any other session is not recorded (returns 0).
    EntryId recordEntry(const UndoEntry& entry, SessionId session);

    // Without a session id: true opens an anonymous session, and entries
    // recorded without an id go to the pending session or else the current one.
    void setPendingNewSession(bool pending);
    EntryId recordEntry(const UndoEntry& entry);
    // Marks an entry as written, leaving the file as `identity`; nothing when
    // it is no longer recorded. The first written entry of the pending
    // session makes that session current: its entries replace the list.
    void markWritten(EntryId id, const std::optional<FileIdentity>& identity = std::nullopt);

    // The entries of the current session in recording order (not those of a
    // pending one).
    QList<UndoEntry> entries() const;
    bool isEmpty() const;

    // Takes and empties the list at once (the flag keeps its value), then
    // writes the recorded values back through `writer`, newest entry first,
    // so a file written twice ends with the values it had before the session;
    // a file changed by someone else since the write is not restored (failed).
    // Entries whose write never went through are skipped and not counted.
    // Never throws. Afterwards no session is current, so an entry of the
    // undone session that still arrives is not recorded.
    UndoResult undoLastSession(UniversalTagWriter& writer);
    // The same, but only when the list holds `session`; otherwise restores
    // nothing and leaves the list alone.
    UndoResult undoLastSession(UniversalTagWriter& writer, SessionId session);

private:
    struct Slot {
        EntryId id;
        UndoEntry entry;
    };

    EntryId appendLocked(QList<Slot>& list, const UndoEntry& entry);
    SessionId openLocked();
    static UndoResult restore(const QList<Slot>& taken, UniversalTagWriter& writer);

    mutable std::mutex m_mutex;
    QList<Slot> m_entries;
    SessionId m_current = 0;
    // The pending session and its entries, none of them written yet.
    SessionId m_pending = 0;
    QList<Slot> m_pendingEntries;
    SessionId m_nextSession = 1;
    EntryId m_nextId = 1;
};
