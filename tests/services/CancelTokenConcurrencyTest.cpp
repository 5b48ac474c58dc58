#include "services/CancelToken.h"

#include "LookupScenario.h"
#include "QtPrinters.h"
#include "Threads.h"
#include "services/HttpClient.h"

#include <gtest/gtest.h>

using namespace LookupScenario;
using namespace Threads;
using namespace std::chrono_literals;

// A cancel ends a request or an AI lookup in flight, while the server still holds its answer: a
// request that waited for the answer would get it or run into its own deadline first.
TEST(CancelTokenConcurrencyTest, CancelEndsRequestsInFlight) {
    LoopbackServer server;
    Response held(200, chatText("1987"));
    held.delay = 2 * hang;
    Response trickle(200, std::string(1000, 'x'));
    trickle.trickleInterval = 20ms; // 20 s for the whole body
    server.script("GET", "/held", {held});
    server.script("GET", "/trickle", {trickle});
    server.script("POST", "/v1/chat/completions", {held});
    const auto asked = [&](const std::string& path) {
        return [&server, path] { return !server.requests(path).empty(); };
    };
    for (const char* path : {"/held", "/trickle"}) {
        CancelToken request;
        HttpRequest r;
        r.url = QUrl(server.url(path));
        r.timeout = hang;
        cancelWhen(request, asked(path), [&] {
            try {
                HttpClient().send(r, request);
                ADD_FAILURE() << "request finished";
            } catch (const HttpError& e) {
                EXPECT_EQ(e.kind(), HttpError::Kind::cancelled) << path;
            }
        });
    }
    auto s = std::make_shared<SettingsSnapshot>();
    s->selectedProvider = AIProviderType::lmstudio;
    s->customEndpoint = server.baseUrl();
    const auto ai = makeAIService(fixedSettingsSource(s));
    CancelToken lookup;
    cancelWhen(lookup, asked("/v1/chat/completions"), [&] { expectThrows(AppError::Kind::cancelled, [&] { ai->lookupYear("T", "A", {}, {}, lookup); }); });
}
