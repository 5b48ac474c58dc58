// Times the Manual mode list under row changes: N rows (hard links to one
// tagged MP3, scanned once, then given varied titles, artists and years), a
// row selection following the list as the screen's has, and for each N
//
//   rows     one lookup result applied to every row (status, found year)
//   refresh  the queries the screen makes per refresh of its toolbar and
//            footer (filtered list, problem rows, counts, "all checked"),
//            right after a row change, by sort column and filter; the mean of
//            10, after one refresh that follows the sort or filter change
//
//   cmake -S . -B build/rel -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/rel --target manual_benchmark
//   build/rel/manual_benchmark [N ...]     (default 2000 6000 20000)
//
// Results go to standard error; standard output (console lines) is discarded.

#include "FileCounts.h"
#include "ui/manual/ManualModeViewModel.h"
#include "ui/manual/TableSelectionViewModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <random>
#include <unistd.h>

namespace {

void waitIdle(ManualModeViewModel& vm) {
    while (vm.isBusy()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
}

// The refresh queries of the screen; returns a sum so nothing is optimised away.
qsizetype refresh(const ManualModeViewModel& vm, const TableSelectionViewModel& selection) {
    const StatusCounts c = vm.statusCounts();
    return vm.problematicFiles().size() + vm.filteredFiles().size() + c.notFound +
           (selection.allFilteredSelected() ? 1 : 0);
}

void run(int n) {
    QTemporaryDir dir;
    const QString source = QStringLiteral(VELMORA_FIXTURES_DIR "/scan/tagged.mp3");
    for (int i = 0; i < n; ++i) {
        const QByteArray target = dir.filePath(QStringLiteral("f%1.mp3").arg(i, 5, 10, QChar('0'))).toLocal8Bit();
        if (::link(source.toLocal8Bit().constData(), target.constData()) != 0) {
            std::fprintf(stderr, "cannot link %s\n", target.constData());
            return;
        }
    }
    ManualModeViewModel vm;
    TableSelectionViewModel selection(&vm);
    vm.chooseDirectory(dir.path());
    vm.startScan();
    waitIdle(vm);

    std::mt19937 random(11);
    QList<MusicFile> rows = vm.files();
    for (MusicFile& row : rows) {
        row.title = QStringLiteral("Title %1").arg(random() % 100000);
        row.artist = QStringLiteral("Artist %1").arg(random() % 3000);
        row.year = 1960 + int(random() % 60);
    }
    vm.replaceFilesById(rows);
    refresh(vm, selection);

    QElapsedTimer timer;
    qsizetype sink = 0;
    int i = 0;
    timer.start();
    for (const MusicFile& row : rows) {
        const bool found = ++i % 3 != 0;
        vm.modifyFile(row.id, [found, &row](MusicFile& f) {
            f.discoveredYear = found ? row.year : std::nullopt;
            f.status = found ? ProcessingStatus::yearFound(*row.year) : ProcessingStatus::yearNotFound();
        });
    }
    const double rowsMs = double(timer.nsecsElapsed()) / 1e6;
    std::fprintf(stderr, "N=%6d  rows: %9.1f ms for all (%7.2f us per row)\n", n, rowsMs, rowsMs * 1000 / n);

    struct Case {
        const char* name;
        SortColumn column;
        bool problemsOnly;
        const char* filter;
        bool moves; // the changed row gets a new year, so it moves in the year order
    };
    const Case cases[] = {{"title", SortColumn::title, false, "", false},
                          {"year", SortColumn::year, false, "", false},
                          {"decade", SortColumn::decade, false, "", false},
                          {"title, filter \"artist 1\"", SortColumn::title, false, "artist 1", false},
                          {"title, problems only, row joins/leaves", SortColumn::title, true, "", false},
                          {"year, row moves", SortColumn::year, false, "", true}};
    int flip = 0; // every case gives its rows the other status of the case before
    for (const Case& c : cases) {
        ++flip;
        vm.setSort(c.column, true);
        vm.setShowOnlyProblematic(c.problemsOnly);
        vm.setFilterText(QString::fromUtf8(c.filter));
        sink += refresh(vm, selection); // the first refresh after a sort or filter change sorts in any case
        const int runs = 10;
        timer.start();
        for (int r = 0; r < runs; ++r) {
            // a row changes between refreshes, as during a lookup
            const MusicFile& row = rows.at(r * 7 % rows.size());
            vm.modifyFile(row.id, [r, flip, &c](MusicFile& f) {
                f.status =
                    (r + flip) % 2 ? ProcessingStatus::yearNotFound() : ProcessingStatus::yearFound(1990);
                if (c.moves) {
                    f.discoveredYear = 1950 + r;
                }
            });
            sink += refresh(vm, selection);
        }
        std::fprintf(stderr, "N=%6d  refresh (%s): %7.2f ms\n", n, c.name,
                     double(timer.nsecsElapsed()) / 1e6 / runs);
    }
    if (sink < 0) {
        std::fprintf(stderr, "%lld\n", static_cast<long long>(sink));
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::freopen("/dev/null", "w", stdout);
    for (const int n : fileCounts(argc, argv, {2000, 6000, 20000})) {
        run(n);
    }
    return 0;
}
