#include "ui/settings/SettingsViewModel.h"

#include "LoopbackServer.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

LoopbackServer::Response answer(std::string body, std::chrono::milliseconds delay) {
    LoopbackServer::Response response(200, std::move(body));
    response.delay = delay;
    return response;
}

struct SettingsViewModelConcurrencyTest : ::testing::Test {
    LoopbackServer server;
    QTemporaryDir dir;
    AppSettings settings{std::make_unique<SettingsStore>(dir.filePath(QStringLiteral("settings.json")))};
    std::unique_ptr<SettingsViewModel> vm;

    void SetUp() override {
        settings.setAppLanguage(AppLanguage::english);
        settings.setSelectedProvider(AIProviderType::ollama);
        settings.setCustomEndpoint(server.baseUrl());
        server.script("GET", "/api/tags", {answer(R"({"models":[{"name":"old-model"}]})", 800ms)});
        server.script("GET", "/v1/models", {answer(R"({"data":[{"id":"new-model"}]})", 500ms)});
        vm = std::make_unique<SettingsViewModel>(settings);
    }

    bool arrived(const std::string& path) {
        return QTest::qWaitFor([&] { return !server.requests(path).empty(); }, 3000);
    }
    // Lets every queued answer arrive.
    void settle(int ms) { QTest::qWait(ms); }
};

TEST_F(SettingsViewModelConcurrencyTest, ProviderChangeDropsTheOldListAndFetchesTheNewOne) {
    // A hidden screen does not fetch on a provider change; it fetches when shown.
    settings.setSelectedProvider(AIProviderType::lmstudio);
    settings.setSelectedProvider(AIProviderType::ollama);
    settle(100);
    EXPECT_TRUE(server.requests().empty());

    vm->setVisible(true);
    ASSERT_TRUE(arrived("/api/tags"));
    settings.setSelectedProvider(AIProviderType::lmstudio);
    EXPECT_TRUE(vm->isFetchingModels());
    ASSERT_TRUE(arrived("/v1/models"));
    settle(200); // the cancelled ollama fetch has answered by now: it must not end the new one
    EXPECT_TRUE(vm->isFetchingModels());
    EXPECT_TRUE(vm->availableModels().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm->isFetchingModels(); }, 3000));
    settle(900);
    EXPECT_EQ(vm->availableModels(), QStringList{QStringLiteral("new-model")});
}

TEST_F(SettingsViewModelConcurrencyTest, EndpointChangeOrResetDropsAnswersInFlight) {
    const std::function<void()> changes[] = {
        [&] { settings.setCustomEndpoint(server.baseUrl() + QLatin1Char('/')); },
        [&] { vm->reset(); },
    };
    for (const auto& change : changes) {
        server.clearRequests();
        settings.setCustomEndpoint(server.baseUrl());
        vm->fetchModels();
        vm->testConnection();
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests("/api/tags").size() == 2; }, 3000));
        change();
        EXPECT_FALSE(vm->isFetchingModels());
        EXPECT_FALSE(vm->isTesting());
        settle(1200);
        EXPECT_FALSE(vm->connectionTestResult().has_value());
        EXPECT_TRUE(vm->availableModels().isEmpty());
    }
    EXPECT_TRUE(settings.customEndpoint().isEmpty());
}

TEST_F(SettingsViewModelConcurrencyTest, AnswersThatStayCurrentAreApplied) {
    vm->testConnection();
    vm->fetchModels();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vm->isTesting() && !vm->isFetchingModels(); }, 3000));
    EXPECT_EQ(vm->connectionTestResult(),
              (SettingsViewModel::ConnectionTestResult{true, "Connection successful (200)"}));
    EXPECT_EQ(vm->availableModels(), QStringList{QStringLiteral("old-model")});
    settings.setAppLanguage(AppLanguage::german); // the verdict shown follows a language switch
    EXPECT_EQ(vm->connectionTestResult()->text, QStringLiteral("Verbindung erfolgreich (200)"));
}

TEST_F(SettingsViewModelConcurrencyTest, DestroyingMidFlightStopsTheWorkersAtOnce) {
    server.script("GET", "/api/tags", {answer("{}", 5000ms)});
    vm->fetchModels();
    vm->testConnection();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests("/api/tags").size() == 2; }, 3000));
    QElapsedTimer timer;
    timer.start();
    vm.reset();
    EXPECT_LT(timer.elapsed(), 2000);
    settle(100); // queued answers of the destroyed screen go nowhere
}

} // namespace
