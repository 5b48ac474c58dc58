#include "services/AIServiceFactory.h"

#include "LookupScenario.h"
#include "LoopbackServer.h"
#include "TestHelpers.h"
#include "QtPrinters.h"
#include "model/AppError.h"

#include <condition_variable>
#include <future>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

using namespace LookupScenario;

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

std::shared_ptr<AIService> lmStudioAt(const LoopbackServer& server) {
    auto s = std::make_shared<SettingsSnapshot>();
    s->selectedProvider = AIProviderType::lmstudio;
    s->customEndpoint = server.baseUrl();
    return makeAIService(fixedSettingsSource(s));
}

} // namespace

TEST(AIServiceConcurrency, CancellingEndsALookupInFlight) {
    LoopbackServer server;
    LoopbackServer::Response slow(200, chatText("1987"));
    slow.delay = 10s;
    server.script("POST", "/v1/chat/completions", {slow});
    const auto ai = lmStudioAt(server);
    CancelToken token;
    const auto started = std::chrono::steady_clock::now();
    auto year = std::async(std::launch::async, [&] { return ai->lookupYear(u("T"), u("A"), {}, {}, token); });
    std::this_thread::sleep_for(100ms);
    token.cancel();
    expectThrows(AppError::Kind::cancelled, [&] { year.get(); });
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}
