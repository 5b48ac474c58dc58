#include "services/TagUpdateService.h"

#include "FakeTagWriter.h"
#include "QtPrinters.h"
#include "TagProbe.h"
#include "TestFiles.h"
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

MusicFile makeFile(const QString& url, AudioFormat format, const QString& genre,
                   std::optional<int> discovered) {
    MusicFile file;
    file.id = QUuid::createUuid();
    file.url = url;
    file.genre = genre;
    file.year = 1987;
    file.discoveredYear = discovered;
    file.format = format;
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

TEST(TagUpdateServiceConcurrency, ManyRealFilesThroughOneServiceAtOnce) {
    struct Kind {
        const char* fixture;
        const char* extension;
        AudioFormat format;
    };
    const Kind kinds[] = {{"scan/tagged.mp3", "mp3", AudioFormat::mp3},
                          {"scan/tagged.flac", "flac", AudioFormat::flac},
                          {"scan/tagged.m4a", "m4a", AudioFormat::m4a},
                          {"scan/tagged.aiff", "aiff", AudioFormat::aiff},
                          {"scan/tagged.wav", "wav", AudioFormat::wav}};
    QTemporaryDir dir;
    QList<MusicFile> files;
    for (int i = 0; i < 30; ++i) {
        const Kind& kind = kinds[i % 5];
        const QString path = TestFiles::copyFixture(
            kind.fixture, dir, QStringLiteral("f%1.%2").arg(i).arg(QLatin1String(kind.extension)));
        files.append(makeFile(path, kind.format, QStringLiteral("House"), 1990 + i % 10));
    }
    WriteUndoManager undo;
    TagUpdateService service(std::make_shared<UniversalTagWriter>(), &undo);
    const auto settings = fixedSettings(SettingsSnapshot::defaults());

    undo.setPendingNewSession(true);
    std::vector<TagUpdateService::UpdateResult> results(files.size());
    runConcurrently(files.size(), 8, [&](int i) { results[i] = service.updateFile(files.at(i), settings); });

    for (int i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files.at(i).url.toStdString());
        EXPECT_TRUE(results[i].success);
        EXPECT_EQ(TagProbe::ourGenre(files.at(i).url, files.at(i).format), QStringLiteral("House 90er"));
        EXPECT_EQ(TagProbe::viaTagLib(files.at(i).url, files.at(i).format).year, 1990 + i % 10);
    }
    EXPECT_EQ(undo.entries().size(), files.size());

    const WriteUndoManager::UndoResult undone = undo.undoLastSession(*service.writer());
    EXPECT_EQ(undone.restored, files.size());
    for (const MusicFile& file : files) {
        EXPECT_EQ(TagProbe::viaTagLib(file.url, file.format).genre, QStringLiteral("House"));
        EXPECT_EQ(TagProbe::ourYear(file.url, file.format), 1987);
    }
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
}

TEST(TagUpdateServiceConcurrency, UndoSessionsOfTwoRunsNeverMix) {
    auto writer = std::make_shared<FakeTagWriter>();
    WriteUndoManager undo;
    TagUpdateService service(writer, &undo);
    const auto settings = fixedSettings(SettingsSnapshot::defaults());
    auto run = [&](const QString& name, int count) {
        undo.setPendingNewSession(true);
        runConcurrently(count, 8, [&](int i) {
            service.updateFile(makeFile(QStringLiteral("/%1/%2.mp3").arg(name).arg(i), AudioFormat::mp3,
                                        QStringLiteral("House"), 1995),
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
    auto file = [](const char* run, int i) {
        return makeFile(QStringLiteral("/%1/%2.mp3").arg(QLatin1String(run)).arg(i), AudioFormat::mp3,
                        QStringLiteral("House"), 1995);
    };
    const WriteUndoManager::SessionId first = undo.openSession();
    std::atomic<WriteUndoManager::SessionId> second{0};
    // The first run's files still land while the second run opens its session and writes.
    runConcurrently(80, 8, [&](int i) {
        if (i == 20) {
            second = undo.openSession();
        }
        if (i % 2 == 0 || second == 0) {
            service.updateFile(file("first", i), first, settings);
        } else {
            service.updateFile(file("second", i), second, settings);
        }
    });

    EXPECT_EQ(undo.currentSession(), second.load());
    const QList<WriteUndoManager::UndoEntry> entries = undo.entries();
    EXPECT_GT(entries.size(), 0);
    for (const WriteUndoManager::UndoEntry& entry : entries) {
        EXPECT_TRUE(entry.url.startsWith(QStringLiteral("/second/")));
    }
    EXPECT_EQ(undo.undoLastSession(*writer, first).restored, 0);
    EXPECT_EQ(undo.undoLastSession(*writer, second).restored, entries.size());
}

TEST(TagUpdateServiceConcurrency, AutomaticMappingNeverBlocksWorkersAndAddsOneRow) {
    static int argc = 1;
    static char name[] = "tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        new QCoreApplication(argc, argv); // lives for the rest of the process
    }
    QTemporaryDir dir;
    AppSettings target(std::make_unique<SettingsStore>(dir.filePath(QStringLiteral("settings.json"))));
    target.setEnableGenreLookup(true);
    target.setAutoAddGenreMappings(true);
    const qsizetype rowsBefore = target.genreMappings().size();
    auto writer = std::make_shared<FakeTagWriter>();
    WriteUndoManager undo;
    TagUpdateService service(writer, &undo, &target);
    auto live = [&target] {
        return target.currentSnapshot();
    };

    // The main thread handles no events while the workers run: had a worker
    // waited for it, this would never finish.
    std::atomic<int> succeeded{0};
    runConcurrently(24, 6, [&](int i) {
        MusicFile file = makeFile(QStringLiteral("/auto/%1.mp3").arg(i), AudioFormat::mp3, QString(), 1984);
        file.discoveredGenre = QStringLiteral("liquid funk");
        if (service.updateFile(file, live).success) {
            ++succeeded;
        }
    });
    EXPECT_EQ(succeeded.load(), 24);

    QCoreApplication::processEvents();
    ASSERT_EQ(target.genreMappings().size(), rowsBefore + 1);
    EXPECT_EQ(target.genreMappings().last().source, QStringLiteral("liquid funk"));
    EXPECT_EQ(target.genreMappings().last().target, QStringLiteral("Liquid funk"));
}
