#include "services/FileScannerService.h"

#include "LogCapture.h"
#include "TestFiles.h"
#include "tagio/UniversalTagReader.h"

#include <QDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct Row {
    bool present = false;
    QString title, artist, album, genre;
    std::optional<int> year;
    double duration = 0;
    bool fixed = false;

    bool operator==(const Row&) const = default;
};

Row rowOf(const std::optional<MusicFile>& file) {
    if (!file) {
        return {};
    }
    return {true,        file->title, file->artist,   file->album,
            file->genre, file->year,  file->duration, file->wasAutoFixed};
}

} // namespace

// One service and one reader shared by several workers, as a mode keeps
// several files in flight: every read gives what a read alone gives.
TEST(FileScannerServiceConcurrency, OverlappingReadsGiveTheSameRows) {
    LogCapture log; // the debug log is written from every worker, too
    const QString folder = TestFiles::fixturePath(QStringLiteral("scan"));
    const FileScannerService service;
    const UniversalTagReader reader;
    QStringList files = service.scanDirectory(folder);
    files.append(QDir(folder).filePath(QStringLiteral("missing.mp3")));
    ASSERT_GT(files.size(), 15);

    std::vector<Row> expected;
    for (const QString& file : files) {
        expected.push_back(rowOf(service.readFile(file, reader)));
    }

    const int workers = 6;
    const int rounds = 8;
    std::atomic<int> mismatches{0};
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&] {
            for (;;) {
                const int i = next.fetch_add(1);
                if (i >= int(files.size()) * rounds) {
                    return;
                }
                const qsizetype index = i % files.size();
                if (!(rowOf(service.readFile(files[index], reader)) == expected[size_t(index)])) {
                    mismatches.fetch_add(1);
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}
