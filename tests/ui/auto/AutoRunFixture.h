#pragma once

// A folder of fixture copies and an Auto mode view model wired to test
// services: its own undo log and write gate, settings the test controls (no
// outside source unless a test points MusicBrainz at a loopback server).
#include "ui/auto/AutoModeViewModel.h"

#include "model/AppSettings.h"
#include "model/DebugLogger.h"
#include "services/FileScannerService.h"
#include "services/TagUpdateService.h"
#include "services/WriteSessionGate.h"
#include "services/WriteUndoManager.h"
#include "services/YearLookupService.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"

#include "QtPrinters.h"
#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

struct AutoRunFixture {
    QTemporaryDir dir;
    SettingsSnapshot settings = [] {
        SettingsSnapshot s = SettingsSnapshot::defaults();
        s.useMusicBrainz = false; // the year comes from the tag or not at all
        return s;
    }();
    std::mutex settingsMutex;
    WriteUndoManager undoLog;
    WriteSessionGate gate;
    std::shared_ptr<UniversalTagWriter> writer = std::make_shared<UniversalTagWriter>();
    std::shared_ptr<YearLookupService> lookup;

    AutoRunFixture() { AppSettings::shared().setAppLanguage(AppLanguage::english); }

    // `count` copies of a fixture under numbered names ("a01.mp3" ...).
    void copies(const QString& fixture, int count, const QString& prefix = QStringLiteral("a")) {
        const QString suffix = QFileInfo(fixture).suffix();
        for (int i = 1; i <= count; ++i) {
            TestFiles::copyFixture(fixture, dir, QStringLiteral("%1%2.%3").arg(prefix).arg(i, 3, 10, QLatin1Char('0')).arg(suffix));
        }
    }

    AutoModeViewModel::Dependencies dependencies() {
        AutoModeViewModel::Dependencies d;
        d.undoLog = &undoLog;
        d.gate = &gate;
        d.lookupService = lookup;
        d.updateService = std::make_shared<TagUpdateService>(writer, &undoLog);
        d.settings = [this] {
            std::lock_guard lock(settingsMutex);
            return std::make_shared<const SettingsSnapshot>(settings);
        };
        d.chooseFolder = [this] { return std::optional<QString>(dir.path()); };
        return d;
    }

    std::unique_ptr<AutoModeViewModel> makeViewModel() {
        auto vm = std::make_unique<AutoModeViewModel>(dependencies());
        vm->chooseDirectory();
        return vm;
    }

    static bool awaitFinished(AutoModeViewModel& vm, int ms = 20000) {
        return QTest::qWaitFor([&] { return vm.isFinished() && !vm.isRunning(); }, ms);
    }

    static QStringList messages(const AutoModeViewModel& vm) {
        QStringList out;
        for (const auto& entry : vm.log()) {
            out << entry.message;
        }
        return out;
    }

    QString genreOf(const QString& name) {
        const QString path = dir.filePath(name);
        return TagUpdateService::cleanGenreText(writer->readGenre(path, audioFormatForPath(path)).value_or(QString()),
                                                audioFormatForPath(path));
    }
};
