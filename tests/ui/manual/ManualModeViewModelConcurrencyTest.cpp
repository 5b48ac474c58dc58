#include "HeldAnswer.h"
#include "ManualModeFixture.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

TEST(ManualModeViewModelConcurrencyTest, ARestartedScanIsNotEndedByTheCancelledOne) {
    ManualModeFixture fx;
    ManualModeViewModel vm(fx.services());
    ManualModeFixture::load(vm, fx.dir, 20);
    std::optional<qsizetype> rowsWhenIdle;
    vm.startScan();
    vm.cancelAll();
    vm.startScan();
    QObject::connect(&vm, &ManualModeViewModel::stateChanged, [&] {
        if (!vm.isScanning() && !rowsWhenIdle) {
            rowsWhenIdle = vm.files().size();
        }
    });
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    EXPECT_EQ(rowsWhenIdle, 20);
}

using ManualModeViewModelCancelledWriteConcurrencyTest = ::testing::TestWithParam<std::pair<const char*, bool>>;

TEST_P(ManualModeViewModelCancelledWriteConcurrencyTest, ACancelledWriteBlocksNewWritesUntilItsFileHasLanded) {
    const auto [then, undoOffered] = GetParam();
    ManualModeFixture fx;
    auto writer = std::make_shared<SlowWriter>();
    ManualModeViewModel vm(fx.services(writer));
    ManualModeFixture::load(vm, fx.dir, 4);
    vm.updateSelected(ManualModeFixture::ids(vm));
    vm.cancelAll();
    EXPECT_TRUE(vm.isWriteInFlight());
    EXPECT_FALSE(vm.canStartWrite());
    EXPECT_EQ(fx.gate.holder(), &vm);
    vm.updateSelected(ManualModeFixture::ids(vm));
    vm.undoLastWrite();
    EXPECT_FALSE(vm.isUpdating());
    if (QLatin1String(then) == QLatin1String("a scan")) {
        vm.startScan();
    } else if (QLatin1String(then) == QLatin1String("clearAll")) {
        vm.clearAll();
    }
    ASSERT_TRUE(ManualModeFixture::waitIdle(vm));
    EXPECT_EQ(writer->calls().size(), 1); // only the file in flight was written
    EXPECT_EQ(fx.undo.entries().size(), 1);
    EXPECT_EQ(fx.gate.holder(), nullptr);
    EXPECT_EQ(vm.canUndo(), undoOffered);
}
INSTANTIATE_TEST_SUITE_P(, ManualModeViewModelCancelledWriteConcurrencyTest, ::testing::Values(std::pair{"none", true}, std::pair{"a scan", true}, std::pair{"clearAll", false}),
                         [](const auto& info) { return RowName()(::testing::TestParamInfo<const char*>(info.param.first, info.index)); });

TEST(ManualModeViewModelConcurrencyTest, TwoModelsOnOneLogNeverWriteAtOnceNorUndoTheOther) {
    ManualModeFixture fx;
    auto writer = std::make_shared<SlowWriter>();
    ManualModeViewModel first(fx.services(writer));
    ManualModeViewModel second(fx.services(writer));
    QTemporaryDir otherDir;
    ManualModeFixture::load(first, fx.dir, 3);
    ManualModeFixture::load(second, otherDir, 3);
    first.updateSelected(ManualModeFixture::ids(first));
    EXPECT_FALSE(second.canStartWrite());
    second.updateSelected(ManualModeFixture::ids(second)); // refused while the first holds the gate
    EXPECT_FALSE(second.isUpdating());
    ASSERT_TRUE(ManualModeFixture::waitIdle(first));
    EXPECT_TRUE(first.canUndo());
    second.updateSelected(ManualModeFixture::ids(second));
    ASSERT_TRUE(ManualModeFixture::waitIdle(second));
    EXPECT_TRUE(second.canUndo());
    EXPECT_FALSE(first.canUndo());
    for (const WriteUndoManager::UndoEntry& entry : fx.undo.entries()) {
        EXPECT_TRUE(entry.url.startsWith(otherDir.path()));
    }
    first.undoLastWrite();
    EXPECT_FALSE(first.isUpdating());
    EXPECT_EQ(fx.undo.entries().size(), 3);
}

TEST(ManualModeViewModelConcurrencyTest, DestroyedWhileRunning) {
    ManualModeFixture fx;
    // The lookup's request outlasts the held answer: a model that waited for it would end only
    // once the server answered.
    fx.timing.requestTimeout = std::chrono::milliseconds(10 * hangMs);
    const HeldAnswer held(fx.server, "GET", "/ws/2/recording", {200, LookupScenario::mbEmpty});
    auto writer = std::make_shared<SlowWriter>();
    const std::function<void(ManualModeViewModel&)> runs[] = {
        [&](ManualModeViewModel& vm) {
            vm.lookupSelected({});
            ASSERT_TRUE(QTest::qWaitFor([&] { return !fx.server.requests().empty(); }, hangMs));
        },
        [](ManualModeViewModel& vm) { vm.updateSelected(ManualModeFixture::ids(vm)); },
        [](ManualModeViewModel& vm) {
            vm.startScan();
        }};
    for (const auto& run : runs) {
        auto vm = std::make_unique<ManualModeViewModel>(fx.services(writer));
        ManualModeFixture::load(*vm, fx.dir, 4);
        const qsizetype writesBefore = writer->calls().size();
        run(*vm);
        vm.reset(); // cancels: a lookup's requests end at once, a write finishes its file
        EXPECT_EQ(held.sent(), 0); // the request ended while its answer was still held
        EXPECT_LE(writer->calls().size() - writesBefore, 1); // the file in flight, no further one
        EXPECT_EQ(fx.gate.holder(), nullptr);
    }
    QObject autoMode; // an idle model's end leaves another's hold alone
    ASSERT_TRUE(fx.gate.tryAcquire(&autoMode));
    std::make_unique<ManualModeViewModel>(fx.services(writer)).reset();
    EXPECT_EQ(fx.gate.holder(), &autoMode);
}
