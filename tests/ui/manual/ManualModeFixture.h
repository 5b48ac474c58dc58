#pragma once

#include "FakeTagWriter.h"
#include "LookupScenario.h"
#include "TestFiles.h"

#include "services/MusicBrainzPacer.h"
#include "services/TagUpdateService.h"
#include "services/WriteSessionGate.h"
#include "services/WriteUndoManager.h"
#include "ui/manual/ManualModeViewModel.h"

#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

// A Manual mode view model on its own undo log, gate and settings, with the
// lookup pointed at a loopback server, and rows loaded from fixture copies.
struct ManualModeFixture {
    LoopbackServer server;
    LookupScenario::Settings settings;
    MusicBrainzPacer pacer{std::chrono::milliseconds(1)};
    MusicBrainzTiming timing = LookupScenario::quickTiming(); // of the lookups services() makes
    WriteUndoManager undo;
    WriteSessionGate gate;
    QTemporaryDir dir;

    ManualModeFixture() {
        settings.change([](SettingsSnapshot& s) { s.useExistingYearTag = false; });
    }

    ManualModeViewModel::Dependencies services(std::shared_ptr<UniversalTagWriter> writer = {}) {
        ManualModeViewModel::Dependencies s;
        s.lookupService =
            std::make_shared<YearLookupService>(server.endpoints(), timing, pacer);
        s.updateService = std::make_shared<TagUpdateService>(std::move(writer), &undo);
        s.undoLog = &undo;
        s.gate = &gate;
        s.settings = settings.source();
        return s;
    }

    // Copies `count` tagged fixtures into the folder as f00.mp3, f01.mp3, ...
    // scans them and gives row i the fields `edit` sets (id and path kept).
    static void load(ManualModeViewModel& vm, const QTemporaryDir& dir, int count,
                     const std::function<void(int, MusicFile&)>& edit = {}) {
        for (int i = 0; i < count; ++i) {
            TestFiles::copyFixture("scan/tagged.mp3", dir,
                                   QStringLiteral("f%1.mp3").arg(i, 2, 10, QChar('0')));
        }
        vm.chooseDirectory(dir.path());
        vm.startScan();
        waitIdle(vm);
        QList<MusicFile> rows = vm.files();
        for (int i = 0; edit && i < rows.size(); ++i) {
            edit(i, rows[i]);
        }
        if (edit) {
            vm.replaceFilesById(rows);
        }
    }

    static QSet<QUuid> ids(const ManualModeViewModel& vm) {
        QSet<QUuid> out;
        for (const MusicFile& f : vm.files()) {
            out.insert(f.id);
        }
        return out;
    }

    static bool waitIdle(ManualModeViewModel& vm, int ms = 15000) {
        return QTest::qWaitFor([&] { return !vm.isBusy() && !vm.isWriteInFlight(); }, ms);
    }
};

// A writer that takes its time, so that a write is still in flight when a test acts.
class SlowWriter : public FakeTagWriter {
public:
    FileIdentity writeGenre(const QString& genre, std::optional<TagYear> year, std::optional<QString> title,
                            std::optional<QString> artist, const QString& path, AudioFormat format,
                            const std::optional<FileIdentity>& expected) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        return FakeTagWriter::writeGenre(genre, year, title, artist, path, format, expected);
    }
};
