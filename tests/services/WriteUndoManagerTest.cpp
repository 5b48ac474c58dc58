#include "services/WriteUndoManager.h"

#include "FakeTagWriter.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

using Entry = WriteUndoManager::UndoEntry;

Entry entry(const QString& url, const QString& genre, std::optional<int> year = {}, bool yearWritten = false) {
    Entry e;
    e.url = url;
    e.format = AudioFormat::mp3;
    e.originalGenre = genre;
    e.originalYear = year;
    e.yearWritten = yearWritten;
    return e;
}

// Records an entry and marks it written, as a successful update does.
void recordWritten(WriteUndoManager& undo, const Entry& e) {
    undo.markWritten(undo.recordEntry(e));
}

QStringList urls(const QList<Entry>& entries) {
    QStringList out;
    for (const Entry& e : entries) {
        out.append(e.url);
    }
    return out;
}

} // namespace

// Newest first, so a file written twice gets its first value back; only what
// the write changed is restored, and a failed undo is not kept for a retry.
TEST(WriteUndoManagerTest, UndoGoesNewestFirstAndRestoresOnlyWhatTheWriteChanged) {
    WriteUndoManager undo;
    recordWritten(undo, entry("/y/song.mp3", "House", 1987, false));
    recordWritten(undo, entry("/y/changed-year.mp3", "B", 1995, true));
    recordWritten(undo, entry("/y/no-year-before.mp3", "C", std::nullopt, true));
    Entry repaired = entry("/y/repaired.mp3", "D");
    repaired.originalTitle = QStringLiteral("Some Artist - Some Title");
    repaired.originalArtist = QStringLiteral("01");
    recordWritten(undo, repaired);
    undo.recordEntry(entry("/y/never-written.ogg", "Rock")); // its write failed
    recordWritten(undo, entry("/y/locked.mp3", "Jazz"));
    recordWritten(undo, entry("/y/song.mp3", "House 80er"));
    FakeTagWriter writer;
    writer.failWritesTo("/y/locked.mp3");
    const WriteUndoManager::UndoResult result = undo.undoLastSession(writer);
    EXPECT_EQ(std::make_pair(result.restored, result.failed), std::make_pair(5, 1));
    EXPECT_EQ(result.restoredEntries.first().originalGenre, QStringLiteral("House 80er"));
    QStringList calls;
    for (const FakeTagWriter::Call& c : writer.calls()) {
        calls.append(QStringLiteral("%1 %2 %3 %4 %5")
                         .arg(c.path, c.genre, c.year ? QString::number(*c.year) : "-", c.title.value_or("-"),
                              c.artist.value_or("-")));
    }
    EXPECT_EQ(calls, QStringList({"/y/song.mp3 House 80er - - -", "/y/locked.mp3 Jazz - - -",
                                  "/y/repaired.mp3 D - Some Artist - Some Title 01",
                                  "/y/no-year-before.mp3 C - - -", "/y/changed-year.mp3 B 1995 - -",
                                  "/y/song.mp3 House - - -"}));
    const WriteUndoManager::UndoResult second = undo.undoLastSession(writer);
    EXPECT_EQ(second.restored + second.failed, 0);
}

// A session script of steps split by blanks: operation, session, path. 'o'
// opens session `s`; 'r' records the path written for session `s` ('-' for an
// entry without a session id); 'n' records for no session id without marking
// it, 'k' marks that entry later; 'p' asks for a new session at the next entry;
// 'u' undoes session `s`, 'U' the last one. '0' is no session.
TEST(WriteUndoManagerTest, SessionsKeepTheirEntriesApart) {
    const struct {
        const char* name;
        const char* script;
        QStringList entries; // the log afterwards
        int restored;        // by all undo steps together
        char current;        // the current session afterwards ('?': not checked)
    } cases[] = {
        {"a pending session starts at its first write", "r-/a1 r-/a2 p r-/b1 r-/b2", {"/b1", "/b2"}, 0, '?'},
        {"a pending session without writes leaves the last run to undo", "r-/a1 p U", {}, 1, '?'},
        {"a pending session whose writes failed leaves the last run to undo", "r-/a1 p n-/b1 U", {}, 1, '?'},
        {"a failed session's entries go when the next one opens", "r-/a1 p n-/b1 p k", {"/a1"}, 0, '?'},
        {"an opened session's first entry empties the log", "r-/old oa ra/a1 ra/a2", {"/a1", "/a2"}, 0, 'a'},
        {"a session that records nothing leaves the earlier one to undo", "oa ra/a1 ob ua", {}, 1, '0'},
        {"a late entry of a superseded session is dropped", "oa ra/a1 ob rb/b1 ra/a2", {"/b1"}, 0, 'b'},
        {"a session opened later replaces a pending one", "oa ob ra/a1 rb/b1", {"/b1"}, 0, 'b'},
        {"the undo of another session restores nothing", "oa ra/a1 ob rb/b1 ua u0", {"/b1"}, 0, 'b'},
        {"an entry after its session was undone is dropped", "oa ra/a1 ua ra/a2 ua", {}, 1, '0'},
        {"no session records nothing", "r0/x", {}, 0, '0'},
        {"an entry without an id joins the current session", "oa ra/a1 r-/l ua", {}, 2, '0'},
        {"an entry the undo took stays gone when marked; later ones start afresh", "r-/z1 n-/z2 U k r-/z3",
         {"/z3"}, 1, '?'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteUndoManager undo;
        FakeTagWriter writer;
        QHash<char, WriteUndoManager::SessionId> ids{{'0', 0}};
        WriteUndoManager::EntryId unmarked{};
        int restored = 0;
        for (const QString& step : QString::fromLatin1(c.script).split(' ')) {
            const char op = step[0].toLatin1();
            const char session = step.size() > 1 ? step[1].toLatin1() : '0';
            if (op == 'o') {
                ids.insert(session, undo.openSession());
            } else if (op == 'p') {
                undo.setPendingNewSession(true);
            } else if (op == 'n') {
                unmarked = undo.recordEntry(entry(step.mid(2), "G"));
            } else if (op == 'k') {
                undo.markWritten(unmarked);
            } else if (op == 'u' || op == 'U') {
                restored += (op == 'u' ? undo.undoLastSession(writer, ids.value(session))
                                       : undo.undoLastSession(writer))
                                .restored;
            } else if (session == '-') {
                recordWritten(undo, entry(step.mid(2), "G"));
            } else {
                undo.markWritten(undo.recordEntry(entry(step.mid(2), "G"), ids.value(session)));
            }
        }
        EXPECT_EQ(urls(undo.entries()), c.entries);
        for (const Entry& e : undo.entries()) {
            EXPECT_TRUE(e.written) << e.url.toStdString();
        }
        EXPECT_EQ(restored, c.restored);
        if (c.current != '?') {
            EXPECT_EQ(undo.currentSession(), ids.value(c.current));
        }
        EXPECT_EQ(writer.calls().size(), restored);
    }
}
