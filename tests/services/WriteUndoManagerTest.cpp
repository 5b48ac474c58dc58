#include "services/WriteUndoManager.h"
#include "services/WriteSessionGate.h"

#include "FakeTagWriter.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using Entry = WriteUndoManager::UndoEntry;

Entry entry(const QString& url, const QString& genre, std::optional<int> year = std::nullopt,
            bool yearWritten = false) {
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

TEST(WriteUndoManager, FirstEntryOfANewSessionDropsTheOldOnes) {
    WriteUndoManager undo;
    recordWritten(undo, entry("/a/1.mp3", "A1"));
    recordWritten(undo, entry("/a/2.mp3", "A2"));

    // Opening a session alone keeps the last run's entries.
    undo.setPendingNewSession(true);
    EXPECT_EQ(urls(undo.entries()), QStringList({"/a/1.mp3", "/a/2.mp3"}));

    recordWritten(undo, entry("/b/1.mp3", "B1"));
    EXPECT_FALSE(undo.pendingNewSession());
    recordWritten(undo, entry("/b/2.mp3", "B2"));
    EXPECT_EQ(urls(undo.entries()), QStringList({"/b/1.mp3", "/b/2.mp3"}));
}

TEST(WriteUndoManager, ASessionWithoutWritesLeavesTheEarlierRunToUndo) {
    WriteUndoManager undo;
    recordWritten(undo, entry("/a/1.mp3", "House"));
    undo.setPendingNewSession(true);
    FakeTagWriter writer;
    const WriteUndoManager::UndoResult result = undo.undoLastSession(writer);
    EXPECT_EQ(result.restored, 1);
    EXPECT_EQ(writer.calls().value(0).path, QStringLiteral("/a/1.mp3"));
    // The flag is left as it was.
    EXPECT_TRUE(undo.pendingNewSession());
}

TEST(WriteUndoManager, UndoGoesNewestFirstSoAFileWrittenTwiceGetsItsFirstValueBack) {
    WriteUndoManager undo;
    recordWritten(undo, entry("/x/song.mp3", "House"));
    recordWritten(undo, entry("/x/other.mp3", "Soul"));
    recordWritten(undo, entry("/x/song.mp3", "House 80er"));
    FakeTagWriter writer;

    const WriteUndoManager::UndoResult result = undo.undoLastSession(writer);

    ASSERT_EQ(writer.calls().size(), 3);
    EXPECT_EQ(writer.calls().at(0).genre, QStringLiteral("House 80er"));
    EXPECT_EQ(writer.calls().at(1).genre, QStringLiteral("Soul"));
    EXPECT_EQ(writer.calls().at(2).genre, QStringLiteral("House"));
    EXPECT_EQ(writer.readGenre("/x/song.mp3", AudioFormat::mp3), QStringLiteral("House"));
    EXPECT_EQ(result.restored, 3);
    EXPECT_EQ(result.restoredEntries.first().originalGenre, QStringLiteral("House 80er"));
}

TEST(WriteUndoManager, UnwrittenEntriesAreSkippedAndFailuresDropped) {
    WriteUndoManager undo;
    recordWritten(undo, entry("/x/ok.mp3", "House"));
    undo.recordEntry(entry("/x/never-written.ogg", "Rock")); // its write failed
    recordWritten(undo, entry("/x/locked.mp3", "Jazz"));
    FakeTagWriter writer;
    writer.failWritesTo("/x/locked.mp3");

    const WriteUndoManager::UndoResult first = undo.undoLastSession(writer);
    EXPECT_EQ(first.restored, 1);
    EXPECT_EQ(first.failed, 1);
    EXPECT_EQ(urls(first.restoredEntries), QStringList({"/x/ok.mp3"}));
    for (const FakeTagWriter::Call& call : writer.calls()) {
        EXPECT_NE(call.path, QStringLiteral("/x/never-written.ogg"));
    }

    // Nothing is kept for a retry.
    const WriteUndoManager::UndoResult second = undo.undoLastSession(writer);
    EXPECT_EQ(second.restored + second.failed, 0);
}

TEST(WriteUndoManager, RestoresYearOnlyWhereTheWriteChangedItAndRepairedTitleAndArtist) {
    WriteUndoManager undo;
    recordWritten(undo, entry("/y/kept-year.mp3", "A", 1987, false));
    recordWritten(undo, entry("/y/changed-year.mp3", "B", 1995, true));
    recordWritten(undo, entry("/y/no-year-before.mp3", "C", std::nullopt, true));
    Entry repaired = entry("/y/repaired.mp3", "D");
    repaired.originalTitle = QStringLiteral("Some Artist - Some Title");
    repaired.originalArtist = QStringLiteral("01");
    recordWritten(undo, repaired);
    FakeTagWriter writer;

    undo.undoLastSession(writer);

    QHash<QString, FakeTagWriter::Call> byPath;
    for (const FakeTagWriter::Call& call : writer.calls()) {
        byPath.insert(call.path, call);
    }
    EXPECT_EQ(byPath.value("/y/kept-year.mp3").year, std::nullopt);
    EXPECT_EQ(byPath.value("/y/changed-year.mp3").year, 1995);
    EXPECT_EQ(byPath.value("/y/no-year-before.mp3").year, std::nullopt);
    EXPECT_EQ(byPath.value("/y/kept-year.mp3").title, std::nullopt);
    EXPECT_EQ(byPath.value("/y/repaired.mp3").title, QStringLiteral("Some Artist - Some Title"));
    EXPECT_EQ(byPath.value("/y/repaired.mp3").artist, QStringLiteral("01"));
}

TEST(WriteUndoManager, AnEntryTakenByTheUndoIsGoneAndLaterEntriesStartAfresh) {
    WriteUndoManager undo;
    recordWritten(undo, entry("/z/1.mp3", "One"));
    const WriteUndoManager::EntryId late = undo.recordEntry(entry("/z/2.mp3", "Two"));
    FakeTagWriter writer;
    undo.undoLastSession(writer);
    // Marking an entry the undo already took changes nothing.
    undo.markWritten(late);
    EXPECT_TRUE(undo.isEmpty());

    recordWritten(undo, entry("/z/3.mp3", "Three"));
    EXPECT_EQ(urls(undo.entries()), QStringList({"/z/3.mp3"}));
    EXPECT_TRUE(undo.entries().first().written);
}

namespace {

// One step of a session script: 'o' opens session `s`, 'r' records `url`
// (written) for session `s` ('-' records without a session id), 'u' undoes
// session `s`. Sessions are named by letters; '0' stands for no session.
struct Step {
    char op;
    char s;
    const char* url = "";
};

struct SessionCase {
    const char* name;
    std::vector<Step> steps;
    QStringList entries; // the log afterwards
    int restored;        // by all undo steps together
    char current;        // the current session afterwards, '0' for none
};

} // namespace

TEST(WriteUndoManager, SessionsKeepTheirEntriesApart) {
    // clang-format off
    const SessionCase cases[] = {
        {"the first entry of a pending session empties the log",
         {{'r', '-', "/old"}, {'o', 'a'}, {'r', 'a', "/a1"}, {'r', 'a', "/a2"}}, {"/a1", "/a2"}, 0, 'a'},
        {"a session that records nothing leaves the earlier one to undo",
         {{'o', 'a'}, {'r', 'a', "/a1"}, {'o', 'b'}, {'u', 'a'}}, {}, 1, '0'},
        {"a late entry of a superseded session is dropped",
         {{'o', 'a'}, {'r', 'a', "/a1"}, {'o', 'b'}, {'r', 'b', "/b1"}, {'r', 'a', "/a2"}}, {"/b1"}, 0, 'b'},
        {"a session opened later replaces a pending one",
         {{'o', 'a'}, {'o', 'b'}, {'r', 'a', "/a1"}, {'r', 'b', "/b1"}}, {"/b1"}, 0, 'b'},
        {"the undo of another session restores nothing",
         {{'o', 'a'}, {'r', 'a', "/a1"}, {'o', 'b'}, {'r', 'b', "/b1"}, {'u', 'a'}, {'u', '0'}}, {"/b1"}, 0, 'b'},
        {"an entry arriving after its session was undone is dropped",
         {{'o', 'a'}, {'r', 'a', "/a1"}, {'u', 'a'}, {'r', 'a', "/a2"}, {'u', 'a'}}, {}, 1, '0'},
        {"no session records nothing", {{'r', '0', "/x"}}, {}, 0, '0'},
    };
    // clang-format on
    for (const SessionCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteUndoManager undo;
        FakeTagWriter writer;
        QHash<char, WriteUndoManager::SessionId> ids{{'0', 0}};
        int restored = 0;
        for (const Step& step : c.steps) {
            if (step.op == 'o') {
                ids.insert(step.s, undo.openSession());
            } else if (step.op == 'r' && step.s == '-') {
                recordWritten(undo, entry(step.url, "G"));
            } else if (step.op == 'r') {
                undo.markWritten(undo.recordEntry(entry(step.url, "G"), ids.value(step.s)));
            } else {
                restored += undo.undoLastSession(writer, ids.value(step.s)).restored;
            }
        }
        EXPECT_EQ(urls(undo.entries()), c.entries);
        EXPECT_EQ(restored, c.restored);
        EXPECT_EQ(undo.currentSession(), ids.value(c.current));
        EXPECT_EQ(writer.calls().size(), restored);
    }
}

TEST(WriteSessionGate, OneHolderAtATime) {
    WriteSessionGate gate;
    auto manual = std::make_unique<QObject>();
    QObject automatic;
    int changes = 0;
    QObject::connect(&gate, &WriteSessionGate::changed, [&] { ++changes; });
    EXPECT_TRUE(gate.tryAcquire(manual.get()));
    EXPECT_TRUE(gate.tryAcquire(manual.get())); // the holder again
    EXPECT_FALSE(gate.tryAcquire(&automatic));
    EXPECT_TRUE(gate.isHeldByOther(&automatic));
    gate.release(&automatic); // not the holder: nothing changes
    EXPECT_EQ(gate.holder(), manual.get());
    gate.release(manual.get());
    EXPECT_EQ(gate.holder(), nullptr);
    EXPECT_TRUE(gate.tryAcquire(manual.get()));
    manual.reset(); // a destroyed holder frees it
    EXPECT_TRUE(gate.tryAcquire(&automatic));
    EXPECT_EQ(changes, 5);
}
