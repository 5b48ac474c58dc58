// Makes the README's pictures of the main screens from the real widgets,
// offscreen, over copies of the scan fixtures: Manual mode after a scan, Auto
// mode after a run, the settings window and help. No network is used: every
// lookup source is off and the AI provider points at a closed local port.
// Given a language and an appearance, it shows the windows at their minimum
// size in them (for checking the screens) and adds the year sheet.
//
//     velmora_screenshots <fixtures/scan folder> <output folder> [en|de light|dark]
#include "app/ContentView.h"
#include "model/AppLanguage.h"
#include "model/AppSettings.h"
#include "model/SettingsStore.h"
#include "ui/DisclaimerView.h"
#include "ui/auto/AutoModeView.h"
#include "ui/manual/ManualModeView.h"
#include "ui/manual/ManualModeViewModel.h"
#include "ui/manual/YearEditSheet.h"
#include "ui/settings/SettingsWindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <functional>

namespace {

bool waitFor(const std::function<bool()>& done, int seconds = 60) {
    QDeadlineTimer deadline(seconds * 1000);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return true;
}

void settle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool copyFolder(const QString& from, const QString& to) {
    QDir().mkpath(to);
    for (const QFileInfo& info : QDir(from).entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
        if (!QFile::copy(info.filePath(), to + QLatin1Char('/') + info.fileName())) {
            return false;
        }
    }
    return true;
}

bool save(QWidget* widget, const QString& path) {
    settle();
    const bool ok = widget->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: %s <fixtures/scan folder> <output folder> [en|de light|dark]\n",
                     argv[0]);
        return 2;
    }
    const bool variant = argc == 5;
    const bool german = variant && qstrcmp(argv[3], "de") == 0;
    const bool dark = variant && qstrcmp(argv[4], "dark") == 0;
    QTemporaryDir home;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString dir = home.path() + QLatin1Char('/') + QLatin1String(name);
        QDir().mkpath(dir);
        qputenv(name, dir.toUtf8());
    }
    QApplication app(argc, argv);
    const QString fixtures = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(output);

    AppSettings& settings = AppSettings::shared();
    settings.setAppLanguage(german ? AppLanguage::german : AppLanguage::english);
    settings.setAppearance(dark      ? AppAppearance::dark
                           : variant ? AppAppearance::light
                                     : settings.appearance());
    settings.setUseMusicBrainz(false);
    settings.setUseSpotify(false);
    settings.setUseDiscogs(false);
    settings.setUseLastFM(false);
    settings.setSelectedProvider(AIProviderType::custom);
    settings.setCustomEndpoint(QStringLiteral("http://127.0.0.1:9"));
    settings.store().setBool(QLatin1String(disclaimerAcceptedKey), true);

    const QString manualFolder = home.path() + QStringLiteral("/Music/Manual");
    const QString autoFolder = home.path() + QStringLiteral("/Music/Auto");
    if (!copyFolder(fixtures, manualFolder) || !copyFolder(fixtures, autoFolder)) {
        std::fprintf(stderr, "could not copy %s\n", qPrintable(fixtures));
        return 1;
    }

    ContentView window(settings, SplashTimings{std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
    window.resize(variant ? window.minimumSize() : QSize(1180, 720));
    window.show();
    bool ok = waitFor([&] { return window.splash() == nullptr; });

    auto* manual = qobject_cast<ManualModeView*>(window.page(ContentView::AppTab::manual));
    auto* automatic = qobject_cast<AutoModeView*>(window.page(ContentView::AppTab::automatic));
    if (manual == nullptr || automatic == nullptr) {
        std::fprintf(stderr, "the mode screens are missing from the tabs\n");
        return 1;
    }

    window.selectTab(ContentView::AppTab::manual);
    manual->viewModel().chooseDirectory(manualFolder);
    manual->viewModel().startScan();
    ok = waitFor([&] { return !manual->viewModel().files().isEmpty() && !manual->viewModel().isScanning(); }) && ok;
    ok = save(&window, output + QStringLiteral("/manual-mode.png")) && ok;
    if (variant) {
        MusicFile sample = manual->viewModel().files().first();
        sample.title = QString(3000, QLatin1Char('W'));
        YearEditSheet sheet(
            sample, [](std::optional<int>) {}, &window);
        sheet.show();
        ok = save(&sheet, output + QStringLiteral("/year-sheet.png")) && ok;
    }

    window.selectTab(ContentView::AppTab::automatic);
    automatic->viewModel()->selectDirectory(autoFolder);
    automatic->viewModel()->startProcessing();
    ok = waitFor([&] { return automatic->viewModel()->isFinished(); }, 120) && ok;
    ok = save(&window, output + QStringLiteral("/auto-mode.png")) && ok;

    window.selectTab(ContentView::AppTab::help);
    ok = save(&window, output + QStringLiteral("/help.png")) && ok;

    SettingsWindow::showWindow();
    if (SettingsWindow* settingsWindow = SettingsWindow::instance()) {
        ok = save(settingsWindow, output + QStringLiteral("/settings.png")) && ok;
    } else {
        ok = false;
    }
    return ok ? 0 : 1;
}
