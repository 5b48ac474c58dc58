#include "services/AIServiceFactory.h"

#include "LoopbackServer.h"
#include "QtPrinters.h"
#include "model/AppError.h"

#include <condition_variable>
#include <future>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

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

std::string chatReply(const char* text) {
    return std::string(R"({"choices":[{"message":{"content":")") + text + R"("}}]})";
}

} // namespace

// The orchestrator asks the year and the genre of one track side by side with
// one provider object: both requests must be in flight at the same time.
TEST(AIServiceConcurrency, YearAndGenreOverlapOnOneObject) {
    LoopbackServer server;
    std::mutex mutex;
    std::condition_variable arrived;
    int inFlight = 0;
    server.handle("POST", "/v1/chat/completions", [&](const LoopbackServer::Request& request) {
        std::unique_lock lock(mutex);
        ++inFlight;
        arrived.notify_all();
        const bool both = arrived.wait_for(lock, 5s, [&] { return inFlight >= 2; });
        const bool isYear = request.body.find("\"max_tokens\":100") != std::string::npos;
        return LoopbackServer::Response(both ? 200 : 504, chatReply(isYear ? "1983" : "Synth-Pop"));
    });
    const auto ai = lmStudioAt(server);
    auto year = std::async(std::launch::async,
                           [&] { return ai->lookupYear(u("Blue Monday"), u("New Order"), {}, {}); });
    auto genre =
        std::async(std::launch::async, [&] { return ai->lookupGenre(u("Blue Monday"), u("New Order"), {}); });
    EXPECT_EQ(year.get(), 1983);
    EXPECT_EQ(genre.get(), u("Synth-Pop"));
}

TEST(AIServiceConcurrency, CancellingEndsALookupInFlight) {
    LoopbackServer server;
    LoopbackServer::Response slow(200, chatReply("1987"));
    slow.delay = 10s;
    server.script("POST", "/v1/chat/completions", {slow});
    const auto ai = lmStudioAt(server);
    CancelToken token;
    const auto started = std::chrono::steady_clock::now();
    auto year = std::async(std::launch::async, [&] { return ai->lookupYear(u("T"), u("A"), {}, {}, token); });
    std::this_thread::sleep_for(100ms);
    token.cancel();
    try {
        year.get();
        ADD_FAILURE() << "the lookup finished";
    } catch (const AppError& e) {
        EXPECT_EQ(e.kind(), AppError::Kind::cancelled);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}
