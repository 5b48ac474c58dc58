#pragma once

// A folder of fixture copies and an Auto mode view model wired to its own undo
// log, write gate, writer and settings (no outside source unless a test
// points MusicBrainz at a loopback server).
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

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

struct AutoRunFixture {
    QTemporaryDir dir;
    SettingsSnapshot settings = SettingsSnapshot::defaults();
    WriteUndoManager undoLog;
    WriteSessionGate gate;
    std::shared_ptr<UniversalTagWriter> writer = std::make_shared<UniversalTagWriter>();
    std::shared_ptr<YearLookupService> lookup;

    AutoRunFixture() {
        AppSettings::shared().setAppLanguage(AppLanguage::english);
        settings.useMusicBrainz = false; // the year comes from the tag or not at all
    }

    // Copies of a fixture named a001.mp3, a002.mp3, ...
    void copies(const QString& fixture, int count) {
        for (int i = 1; i <= count; ++i) {
            TestFiles::copyFixture(fixture, dir, name(i));
        }
    }
    static QString name(int i) { return QStringLiteral("a%1.mp3").arg(i, 3, 10, QLatin1Char('0')); }

    // Settings are read on the main thread only after a run has begun.
    AutoModeViewModel::Dependencies dependencies() {
        AutoModeViewModel::Dependencies d;
        d.undoLog = &undoLog;
        d.gate = &gate;
        d.lookupService = lookup;
        d.updateService = std::make_shared<TagUpdateService>(writer, &undoLog);
        const auto snapshot = std::make_shared<const SettingsSnapshot>(settings);
        d.settings = [snapshot] {
            return snapshot;
        };
        d.chooseFolder = [this] {
            return std::optional<QString>(dir.path());
        };
        return d;
    }

    std::unique_ptr<AutoModeViewModel> makeViewModel() {
        auto vm = std::make_unique<AutoModeViewModel>(dependencies());
        vm->chooseDirectory();
        return vm;
    }

    static bool awaitFinished(AutoModeViewModel& vm) {
        return QTest::qWaitFor([&] { return vm.isFinished() && !vm.isRunning(); }, 20000);
    }

    static QStringList messages(const AutoModeViewModel& vm) {
        QStringList out;
        std::transform(vm.log().begin(), vm.log().end(), std::back_inserter(out),
                       [](auto& e) { return e.message; });
        return out;
    }

    QString genreOf(const QString& file) {
        const QString path = dir.filePath(file);
        return TagUpdateService::cleanGenreText(writer->readGenre(path, AudioFormat::mp3).value_or(QString()),
                                                AudioFormat::mp3);
    }
};
