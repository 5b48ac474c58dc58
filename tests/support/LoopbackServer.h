#pragma once

#include "services/CancelToken.h"
#include "services/Endpoints.h"

#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

// A real HTTP server on 127.0.0.1 inside the test process, answering like the
// outside services: routes are scripted per method and path, and every request
// is recorded. Linking it turns on HttpClient::setLoopbackOnly for the whole
// test program, so no test can reach the internet by mistake.
class LoopbackServer {
public:
    struct Response {
        int status = 200;
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
        std::chrono::milliseconds delay{0}; // before answering (ends early when the server stops)
        // When positive: the body goes out chunked, `trickleBytes` at a time after this pause each.
        std::chrono::milliseconds trickleInterval{0};
        std::size_t trickleBytes = 1;

        Response() = default;
        Response(int status_, std::string body_ = {}) : status(status_), body(std::move(body_)) {}
    };

    struct Request {
        std::string method;
        std::string path;                                        // without the query
        std::string target;                                      // path and raw (encoded) query
        std::vector<std::pair<std::string, std::string>> params; // decoded query items ('+' is a blank)
        std::multimap<std::string, std::string> headers;
        std::string body;
        std::chrono::steady_clock::time_point arrived;

        // The first query item / header of that name, or "" (header names ignore case).
        std::string query(const std::string& name) const;
        std::string header(const std::string& name) const;
        bool hasHeader(const std::string& name) const;
    };

    using Handler = std::function<Response(const Request&)>;

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    QString baseUrl() const; // "http://127.0.0.1:<port>"
    QString url(const std::string& path) const;
    Endpoints endpoints() const; // every outside service here, at its real path

    // Answers method + path with the responses in turn, the last one repeating;
    // or by calling `handler` on a server thread. Unscripted routes get 404.
    void script(const std::string& method, const std::string& path, std::vector<Response> responses);
    void handle(const std::string& method, const std::string& path, Handler handler);

    std::vector<Request> requests() const;
    std::vector<Request> requests(const std::string& path) const;
    void clearRequests();

private:
    Response answer(const Request& request);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    CancelToken m_stopping;

    mutable std::mutex m_mutex;
    std::map<std::pair<std::string, std::string>, Handler> m_routes;
    std::vector<Request> m_requests;
};

// "http://127.0.0.1:<port>" for a port nothing listens on: connections are refused at once.
QString closedLoopbackUrl();
