#include "ui/settings/SettingsViewModel.h"

#include "HeldAnswer.h"
#include "LoopbackServer.h"
#include "TestHelpers.h"
#include "services/HttpClient.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace {

struct SettingsViewModelConcurrencyTest : ::testing::Test {
    LoopbackServer server;
    QTemporaryDir dir;
    AppSettings settings{std::make_unique<SettingsStore>(dir.filePath(QStringLiteral("settings.json")))};
    std::unique_ptr<SettingsViewModel> vm;
    // The answers of each list wait until the test lets them go.
    std::optional<HeldAnswer> oldList, newList;

    void SetUp() override {
        settings.setAppLanguage(AppLanguage::english);
        settings.setSelectedProvider(AIProviderType::ollama);
        settings.setCustomEndpoint(server.baseUrl());
        holdOldList();
        newList.emplace(server, "GET", "/v1/models",
                        LoopbackServer::Response(200, R"({"data":[{"id":"new-model"}]})"));
        vm = std::make_unique<SettingsViewModel>(settings);
    }

    void holdOldList() {
        oldList.emplace(server, "GET", "/api/tags",
                        LoopbackServer::Response(200, R"({"models":[{"name":"old-model"}]})"));
    }
    bool arrived(const std::string& path, std::size_t count = 1) {
        return QTest::qWaitFor([&] { return server.requests(path).size() == count; }, hangMs);
    }
    // Waits until the client has ended `count` requests by their cancel since `before`.
    static bool cancelled(std::uint64_t before, std::uint64_t count) {
        return QTest::qWaitFor([&] { return HttpClient::cancelledSends() - before == count; }, hangMs);
    }
};

TEST_F(SettingsViewModelConcurrencyTest, ProviderChangeDropsTheOldListAndFetchesTheNewOne) {
    // A hidden screen does not fetch on a provider change; it fetches when shown.
    settings.setSelectedProvider(AIProviderType::lmstudio);
    settings.setSelectedProvider(AIProviderType::ollama);
    EXPECT_FALSE(vm->isFetchingModels());

    vm->setVisible(true);
    ASSERT_TRUE(arrived("/api/tags"));
    const std::uint64_t before = HttpClient::cancelledSends();
    settings.setSelectedProvider(AIProviderType::lmstudio);
    EXPECT_TRUE(vm->isFetchingModels());
    ASSERT_TRUE(arrived("/v1/models"));
    ASSERT_TRUE(cancelled(before, 1)); // the ollama list, dropped while its answer is held
    EXPECT_TRUE(vm->isFetchingModels());
    EXPECT_TRUE(vm->availableModels().isEmpty());
    newList->letGo();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm->isFetchingModels(); }, hangMs));
    EXPECT_EQ(vm->availableModels(), QStringList{QStringLiteral("new-model")});
}

TEST_F(SettingsViewModelConcurrencyTest, EndpointChangeOrResetDropsAnswersInFlight) {
    const std::function<void()> changes[] = {
        [&] { settings.setCustomEndpoint(server.baseUrl() + QLatin1Char('/')); },
        [&] { vm->reset(); },
    };
    for (const auto& change : changes) {
        server.clearRequests();
        holdOldList();
        settings.setCustomEndpoint(server.baseUrl());
        vm->fetchModels();
        vm->testConnection();
        ASSERT_TRUE(arrived("/api/tags", 2));
        const std::uint64_t before = HttpClient::cancelledSends();
        change();
        EXPECT_FALSE(vm->isFetchingModels());
        EXPECT_FALSE(vm->isTesting());
        ASSERT_TRUE(cancelled(before, 2));
        vm->waitForWorkers(); // and the screen takes what they handed back
        QCoreApplication::sendPostedEvents();
        oldList->letGo();
        EXPECT_FALSE(vm->connectionTestResult().has_value());
        EXPECT_TRUE(vm->availableModels().isEmpty());
    }
    EXPECT_TRUE(settings.customEndpoint().isEmpty());
}

TEST_F(SettingsViewModelConcurrencyTest, AnswersThatStayCurrentAreApplied) {
    oldList->letGo();
    vm->testConnection();
    vm->fetchModels();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm->isTesting() && !vm->isFetchingModels(); },
                                hangMs));
    EXPECT_EQ(vm->connectionTestResult(),
              (SettingsViewModel::ConnectionTestResult{true, "Connection successful (200)"}));
    EXPECT_EQ(vm->availableModels(), QStringList{QStringLiteral("old-model")});
    settings.setAppLanguage(AppLanguage::german); // the verdict shown follows a language switch
    EXPECT_EQ(vm->connectionTestResult()->text, QStringLiteral("Verbindung erfolgreich (200)"));
}

TEST_F(SettingsViewModelConcurrencyTest, DestroyingMidFlightStopsTheWorkersAtOnce) {
    vm->fetchModels();
    vm->testConnection();
    ASSERT_TRUE(arrived("/api/tags", 2));
    // Both requests end by the cancel, while the server still holds their answers: a screen that
    // waited for its workers' requests would have waited for their time-outs.
    const std::uint64_t before = HttpClient::cancelledSends();
    vm.reset();
    EXPECT_EQ(HttpClient::cancelledSends() - before, 2u);
    EXPECT_EQ(oldList->sent(), 0);
}

} // namespace
