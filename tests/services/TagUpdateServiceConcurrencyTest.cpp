#include "services/TagUpdateService.h"

#include "FakeTagWriter.h"
#include "QtPrinters.h"
#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppSettings.h"
#include "services/WriteUndoManager.h"

#include <QCoreApplication>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

MusicFile makeFile(const QString& url, const QString& genre, std::optional<int> discovered) {
    MusicFile file = musicFile(QStringLiteral("Title"), QStringLiteral("Artist"), 1987, genre, url);
    file.discoveredYear = discovered;
    return file;
}

// Runs `work(i)` for i in [0, count) on `threads` threads at once.
void runConcurrently(int count, int threads, const std::function<void(int)>& work) {
    std::atomic<int> next{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            for (int i = next++; i < count; i = next++) {
                work(i);
            }
        });
    }
    for (std::thread& thread : pool) {
        thread.join();
    }
}

TagUpdateService::SettingsSource fixedSettings(const SettingsSnapshot& values) {
    const auto snapshot = std::make_shared<const SettingsSnapshot>(values);
    return [snapshot] {
        return snapshot;
    };
}

} // namespace

TEST(TagUpdateServiceConcurrency, UndoSessionsOfTwoRunsNeverMix) {
    auto writer = std::make_shared<FakeTagWriter>();
    WriteUndoManager undo;
    TagUpdateService service(writer, &undo);
    const auto settings = fixedSettings(SettingsSnapshot::defaults());
    auto run = [&](const QString& name, int count) {
        undo.setPendingNewSession(true);
        runConcurrently(count, 8, [&](int i) {
            service.updateFile(
                makeFile(QStringLiteral("/%1/%2.mp3").arg(name).arg(i), QStringLiteral("House"), 1995),
                settings);
        });
    };

    run(QStringLiteral("first"), 40);
    EXPECT_EQ(undo.entries().size(), 40);
    run(QStringLiteral("second"), 25);

    const QList<WriteUndoManager::UndoEntry> entries = undo.entries();
    EXPECT_EQ(entries.size(), 25);
    QSet<QString> urls;
    for (const WriteUndoManager::UndoEntry& entry : entries) {
        EXPECT_TRUE(entry.url.startsWith(QStringLiteral("/second/")));
        EXPECT_TRUE(entry.written);
        urls.insert(entry.url);
    }
    EXPECT_EQ(urls.size(), 25);

    const qsizetype callsBefore = writer->calls().size();
    EXPECT_EQ(undo.undoLastSession(*writer).restored, 25);
    const QList<FakeTagWriter::Call> calls = writer->calls();
    for (qsizetype i = callsBefore; i < calls.size(); ++i) {
        EXPECT_TRUE(calls.at(i).path.startsWith(QStringLiteral("/second/")));
    }
}

TEST(TagUpdateServiceConcurrency, ASecondWritersSessionDropsTheLateEntriesOfTheFirst) {
    auto writer = std::make_shared<FakeTagWriter>();
    WriteUndoManager undo;
    TagUpdateService service(writer, &undo);
    const auto settings = fixedSettings(SettingsSnapshot::defaults());
    const WriteUndoManager::SessionId first = undo.openSession();
    std::atomic<WriteUndoManager::SessionId> second{0};
    // The first run's files still land while the second run opens its session and writes.
    runConcurrently(80, 8, [&](int i) {
        if (i == 20) {
            second = undo.openSession();
        }
        const bool ofFirst = i % 2 == 0 || second == 0;
        const QString url = QStringLiteral("/%1/%2.mp3").arg(ofFirst ? "first" : "second").arg(i);
        service.updateFile(makeFile(url, QStringLiteral("House"), 1995), ofFirst ? first : second.load(),
                           settings);
    });
    const QList<WriteUndoManager::UndoEntry> entries = undo.entries();
    EXPECT_GT(entries.size(), 0);
    for (const WriteUndoManager::UndoEntry& entry : entries) {
        EXPECT_TRUE(entry.url.startsWith(QStringLiteral("/second/")));
    }
    EXPECT_EQ(undo.undoLastSession(*writer, first).restored, 0);
    EXPECT_EQ(undo.undoLastSession(*writer, second).restored, entries.size());
}
