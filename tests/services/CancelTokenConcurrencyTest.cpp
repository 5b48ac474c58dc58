#include "services/CancelToken.h"

#include "LookupScenario.h"
#include "QtPrinters.h"
#include "Threads.h"
#include "services/HttpClient.h"

#include <gtest/gtest.h>

using namespace LookupScenario;
using namespace Threads;
using namespace std::chrono_literals;

// A cancel ends a request or an AI lookup in flight at once.
TEST(CancelTokenConcurrencyTest, CancelEndsRequestsInFlight) {
    LoopbackServer server;
    Response slow(200, chatText("1987"));
    slow.delay = 20s;
    Response trickle(200, std::string(1000, 'x'));
    trickle.trickleInterval = 20ms;
    server.script("GET", "/slow", {slow});
    server.script("GET", "/trickle", {trickle});
    server.script("POST", "/v1/chat/completions", {slow});
    for (const char* path : {"/slow", "/trickle"}) {
        CancelToken request;
        HttpRequest r;
        r.url = QUrl(server.url(path));
        r.timeout = 30s;
        const auto waited = cancelDuring(request, 150ms, [&] {
            try {
                HttpClient().send(r, request);
                ADD_FAILURE() << "request finished";
            } catch (const HttpError& e) {
                EXPECT_EQ(e.kind(), HttpError::Kind::cancelled) << path;
            }
        });
        EXPECT_LT(waited, 750ms) << path; // not the next one-second poll, nor the deadline
    }
    auto s = std::make_shared<SettingsSnapshot>();
    s->selectedProvider = AIProviderType::lmstudio;
    s->customEndpoint = server.baseUrl();
    const auto ai = makeAIService(fixedSettingsSource(s));
    CancelToken lookup;
    EXPECT_LT(cancelDuring(lookup, 100ms, [&] { expectThrows(AppError::Kind::cancelled, [&] { ai->lookupYear("T", "A", {}, {}, lookup); }); }), 2s);
}
