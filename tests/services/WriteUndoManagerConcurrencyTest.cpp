#include "services/WriteUndoManager.h"

#include "FakeTagWriter.h"
#include "QtPrinters.h"
#include "TestHelpers.h"
#include "Threads.h"
#include "services/TagUpdateService.h"

#include <gtest/gtest.h>

using namespace Threads;

TEST(WriteUndoManagerConcurrencyTest, SessionsOfOverlappingRunsNeverMix) {
    auto writer = std::make_shared<FakeTagWriter>();
    WriteUndoManager undo;
    TagUpdateService service(writer, &undo);
    const auto snapshot = std::make_shared<const SettingsSnapshot>(SettingsSnapshot::defaults());
    const auto settings = [snapshot] { return snapshot; };
    const auto file = [](const char* run, int i) {
        MusicFile f = musicFile("Title", "Artist", 1987, "House", QStringLiteral("/%1/%2.mp3").arg(QLatin1String(run)).arg(i));
        f.discoveredYear = 1995;
        return f;
    };
    // The first run's files still land while a second run opens its session and writes:
    // only the second run's entries stay, and only its undo restores them.
    const WriteUndoManager::SessionId first = undo.openSession();
    std::atomic<WriteUndoManager::SessionId> second{0};
    runConcurrently(80, 8, [&](int i) {
        if (i == 20) {
            second = undo.openSession();
        }
        const bool late = i % 2 == 0 || second == 0;
        service.updateFile(file(late ? "first" : "second", i), late ? first : second.load(), settings);
    });
    const auto entries = undo.entries();
    EXPECT_GT(entries.size(), 0);
    for (const auto& entry : entries) {
        EXPECT_TRUE(entry.url.startsWith("/second/")) << entry.url.toStdString();
    }
    EXPECT_EQ(undo.undoLastSession(*writer, first).restored, 0);
    EXPECT_EQ(undo.undoLastSession(*writer, second).restored, entries.size());
}
