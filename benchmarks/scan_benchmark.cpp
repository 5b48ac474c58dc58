// Times the reading pipeline on a generated folder of mixed audio files: the
// folder scan plus FileScannerService::readFile for every file, beside a plain
// TagLib FileRef read (tags and duration) of the same files.
//
//   scan_benchmark [file count, default 2000] [fixture folder]
//
// Results go to standard error; standard output (the console lines of the
// tag handlers) is sent to /dev/null while the runs are timed.

#include "model/AppError.h"
#include "model/AudioFormat.h"
#include "services/FileScannerService.h"
#include "tagio/UniversalTagReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

double bestSeconds(int runs, const std::function<void()>& body) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        body();
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;
    const QString fixtures = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                      : QStringLiteral(VELMORA_FIXTURES_DIR) + QStringLiteral("/scan");

    // Keep the console lines of the reads out of the output.
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    if (!std::freopen("/dev/null", "w", stdout)) {
        return 1;
    }

    QStringList sources;
    for (const QString& name : QDir(fixtures).entryList(QDir::Files, QDir::Name)) {
        if (!supportedExtensions().contains(QFileInfo(name).suffix().toLower())) {
            continue;
        }
        const QString path = QDir(fixtures).filePath(name);
        try {
            UniversalTagReader().readTags(path);
            sources.append(path); // only files that read as audio
        } catch (const AppError&) {
        }
    }
    if (sources.isEmpty()) {
        std::fprintf(stderr, "no readable fixtures in %s\n", qPrintable(fixtures));
        return 1;
    }

    QTemporaryDir dir;
    for (int i = 0; i < count; ++i) {
        const QString source = sources.at(i % sources.size());
        const QString folder = dir.filePath(QStringLiteral("artist%1/album%2").arg(i % 17).arg(i % 5));
        QDir().mkpath(folder);
        const QString target = QDir(folder).filePath(
            QStringLiteral("%1 %2").arg(i, 5, 10, QLatin1Char('0')).arg(QFileInfo(source).fileName()));
        if (!QFile::copy(source, target)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(target));
            return 1;
        }
    }

    const FileScannerService service;
    const UniversalTagReader reader;
    const QStringList files = service.scanDirectory(dir.path());
    int rows = 0;
    double checksum = 0;

    auto pipeline = [&] {
        rows = 0;
        const QStringList listed = service.scanDirectory(dir.path());
        for (const QString& file : listed) {
            if (const auto row = service.readFile(file, reader)) {
                ++rows;
                checksum += row->duration;
            }
        }
    };
    auto taglibOnly = [&] {
        for (const QString& file : files) {
            const QByteArray name = QFile::encodeName(file);
            TagLib::FileRef ref(name.constData(), true, TagLib::AudioProperties::Fast);
            if (ref.isNull()) {
                continue;
            }
            const TagLib::Tag* tag = ref.tag();
            checksum += tag->title().size() + tag->artist().size() + tag->album().size() + tag->year() +
                        tag->genre().size();
            if (ref.audioProperties()) {
                checksum += ref.audioProperties()->lengthInMilliseconds();
            }
        }
    };

    pipeline(); // warm the page cache
    taglibOnly();
    const int runs = qEnvironmentVariableIsSet("SCAN_BENCHMARK_RUNS")
                         ? qEnvironmentVariableIntValue("SCAN_BENCHMARK_RUNS")
                         : 5;
    const double taglibSeconds = bestSeconds(runs, taglibOnly);
    const double pipelineSeconds = bestSeconds(runs, pipeline);

    std::fflush(stdout);
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);

    const double n = double(files.size());
    std::fprintf(stderr, "files: %lld (%d rows), best of %d runs\n", static_cast<long long>(files.size()),
                 rows, runs);
    std::fprintf(stderr, "TagLib FileRef only:        %9.0f files/s (%.3f s)\n", n / taglibSeconds,
                 taglibSeconds);
    std::fprintf(stderr, "scan + readFile (pipeline): %9.0f files/s (%.3f s)\n", n / pipelineSeconds,
                 pipelineSeconds);
    std::fprintf(stderr, "pipeline / TagLib time:     %9.2f\n", pipelineSeconds / taglibSeconds);
    std::fprintf(stderr, "(checksum %.1f)\n", checksum);
    return 0;
}
