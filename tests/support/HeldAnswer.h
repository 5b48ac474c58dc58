#pragma once

#include "LoopbackServer.h"
#include "TestHelpers.h"

#include "services/CancelToken.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

// Answers one route of the loopback server only once the test lets go, or after the time only a
// hang waits (hangMs). sent() counts the answers that went out: a call that returned while it is
// still zero did not wait for its answer. Lets go when it ends, so that the server can stop and a
// model that waits for the answer can end: declare it after the server and after such a model (or
// the view that owns it).
class HeldAnswer {
public:
    HeldAnswer(LoopbackServer& server, const std::string& method, const std::string& path,
               LoopbackServer::Response response) {
        server.handle(method, path,
                      [release = m_release, sent = m_sent, response](const LoopbackServer::Request&) {
                          release.sleepFor(std::chrono::milliseconds(hangMs));
                          ++*sent;
                          return response;
                      });
    }
    ~HeldAnswer() { letGo(); }
    HeldAnswer(const HeldAnswer&) = delete;
    HeldAnswer& operator=(const HeldAnswer&) = delete;

    void letGo() const { m_release.cancel(); }
    int sent() const { return *m_sent; }

private:
    CancelToken m_release;
    std::shared_ptr<std::atomic<int>> m_sent = std::make_shared<std::atomic<int>>(0);
};
