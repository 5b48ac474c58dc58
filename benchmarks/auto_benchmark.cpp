// Times Auto mode on its real screen (offscreen) over N files whose years
// resolve at once: copies of a tagged MP3 whose year tag is taken, lookups
// off, so every file is read, given its decade and written. For each N it
// reports the run's wall time and the main thread's CPU time, per file and as
// a share of the wall time. The main thread's cost per file should stay flat
// as N grows, and its share well below 1, so that clicks and keys are
// answered during a run.
//
//   cmake -S . -B build/rel -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/rel --target auto_benchmark
//   build/rel/auto_benchmark [N ...]     (default 1000 4000 8000)
//
// Results go to standard error; standard output (console lines) is discarded.

#include "FileCounts.h"
#include "model/AppSettings.h"
#include "services/TagUpdateService.h"
#include "services/WriteSessionGate.h"
#include "services/WriteUndoManager.h"
#include "tagio/UniversalTagWriter.h"
#include "ui/auto/AutoModeView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {

double threadCpuMs() {
    timespec now{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) {
        return 0.0;
    }
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void run(int n) {
    QTemporaryDir dir;
    const QString source = QStringLiteral(VELMORA_FIXTURES_DIR "/scan/tagged.mp3");
    for (int i = 0; i < n; ++i) {
        const QString target = dir.filePath(QStringLiteral("f%1.mp3").arg(i, 5, 10, QChar('0')));
        if (!QFile::copy(source, target)) {
            std::fprintf(stderr, "cannot copy to %s\n", qPrintable(target));
            return;
        }
    }
    SettingsSnapshot settings = SettingsSnapshot::defaults();
    settings.useMusicBrainz = false; // the year comes from the tag
    WriteUndoManager undoLog;
    WriteSessionGate gate;
    AutoModeViewModel::Dependencies deps;
    deps.undoLog = &undoLog;
    deps.gate = &gate;
    deps.updateService = std::make_shared<TagUpdateService>(std::make_shared<UniversalTagWriter>(), &undoLog);
    deps.settings = [snapshot = std::make_shared<const SettingsSnapshot>(settings)] {
        return snapshot;
    };
    AutoModeView view(new AutoModeViewModel(std::move(deps)));
    AutoModeViewModel& vm = *view.viewModel();
    view.resize(900, 600);
    view.show();
    vm.selectDirectory(dir.path());
    QCoreApplication::processEvents();

    QEventLoop loop;
    QObject::connect(&vm, &AutoModeViewModel::isFinishedChanged, &loop, [&] {
        if (vm.isFinished()) {
            loop.quit();
        }
    });
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = threadCpuMs();
    vm.startProcessing();
    loop.exec();
    const double cpuMs = threadCpuMs() - cpu0;
    const double wallMs = double(wall.nsecsElapsed()) / 1e6;
    const AutoModeViewModel::Statistics s = vm.statistics();
    std::fprintf(stderr,
                 "N=%5d  wall %7.2f s (%5.0f files/s)  main thread %8.1f ms CPU: %6.3f ms per file, "
                 "share %.2f  (updated %d, problems %d)\n",
                 n, wallMs / 1e3, n / (wallMs / 1e3), cpuMs, cpuMs / n, cpuMs / wallMs, s.updated,
                 s.problems);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Settings of a home of its own: the user's stay untouched.
    QTemporaryDir home;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString path = home.path() + QLatin1Char('/') + QLatin1String(name);
        QDir().mkpath(path);
        qputenv(name, path.toUtf8());
    }
    // The offscreen platform's warnings would bury the figures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QApplication app(argc, argv);
    std::freopen("/dev/null", "w", stdout);
    AppSettings::shared().setAppLanguage(AppLanguage::english);
    for (const int n : fileCounts(argc, argv, {1000, 4000, 8000})) {
        run(n);
    }
    return 0;
}
