#include "tagio/MP4Handler.h"

#include "TagProbe.h"
#include "TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

// One handler shared by several threads: reads and writes give the same
// results as on one thread. (readYear is left out: the year check reads the
// local time, whose glibc initialisation TSan cannot see locked.)
TEST(MP4HandlerConcurrency, SharedHandlerReadsAndWritesFromManyThreads) {
    const MP4Handler handler(TagProbe::id3v1GenreNames());
    const QString gnre = TestFiles::fixturePath(QStringLiteral("mp4/gnre.m4a"));
    const QString faststart = TestFiles::fixturePath(QStringLiteral("mp4/faststart.m4a"));
    const QByteArray bytes = TestFiles::readFile(faststart);
    const QByteArray expected =
        handler.writeGenre(QStringLiteral("House 90er"), 1994, {}, {}, bytes, faststart);

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                if (handler.readGenre(gnre) != QStringLiteral("Disco") ||
                    handler.readGenre(faststart) != QStringLiteral("Deep House") ||
                    handler.writeGenre(QStringLiteral("House 90er"), 1994, {}, {}, bytes, faststart) !=
                        expected) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}
