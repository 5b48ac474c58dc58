#include "LoopbackServer.h"

#include "services/HttpClient.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <strings.h>
#include <stdexcept>

namespace {

// Test programs never talk to anything but loopback servers.
const bool g_loopbackGuard = [] {
    HttpClient::setLoopbackOnly(true);
    return true;
}();

} // namespace

// Not our races: the Debian cpp-httplib is not instrumented (its thread pool's
// hand-overs are invisible), and glibc's tzset() guards its state with a lock
// ThreadSanitizer cannot see.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n"
           "race:libcpp-httplib.so\n"
           "race:tzset_internal\n";
}

std::string LoopbackServer::Request::query(const std::string& name) const {
    const auto it = std::find_if(params.begin(), params.end(), [&](const auto& p) { return p.first == name; });
    return it == params.end() ? std::string() : it->second;
}

std::string LoopbackServer::Request::header(const std::string& name) const {
    const auto it = std::find_if(headers.begin(), headers.end(),
                                 [&](const auto& h) { return ::strcasecmp(h.first.c_str(), name.c_str()) == 0; });
    return it == headers.end() ? std::string() : it->second;
}

bool LoopbackServer::Request::hasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return ::strcasecmp(h.first.c_str(), name.c_str()) == 0; });
}

LoopbackServer::LoopbackServer() : m_server(std::make_unique<httplib::Server>()) {
    (void)g_loopbackGuard;
    m_server->set_keep_alive_max_count(1);
    m_server->set_payload_max_length(64 * 1024 * 1024);
    auto dispatch = [this](const httplib::Request& req, httplib::Response& res) {
        const Request r{req.method, req.path,
                        req.target, {req.params.begin(), req.params.end()},
                        {req.headers.begin(), req.headers.end()}, req.body,
                        std::chrono::steady_clock::now()};
        const Response answer = this->answer(r);
        if (answer.delay.count() > 0 && !m_stopping.sleepFor(answer.delay)) {
            res.status = 503;
            return;
        }
        res.status = answer.status;
        for (const auto& [name, value] : answer.headers) {
            res.set_header(name, value);
        }
        if (answer.trickleInterval.count() > 0) {
            res.set_chunked_content_provider("application/json", [answer, stopping = m_stopping](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= answer.body.size()) {
                    sink.done();
                    return true;
                }
                const std::size_t n = std::min(std::max<std::size_t>(1, answer.trickleBytes), answer.body.size() - offset);
                return stopping.sleepFor(answer.trickleInterval) && sink.write(answer.body.data() + offset, n);
            });
        } else {
            res.set_content(answer.body, "application/json");
        }
    };
    m_server->Get(".*", dispatch);
    m_server->Post(".*", dispatch);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) {
        throw std::runtime_error("LoopbackServer: cannot bind to 127.0.0.1");
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() only reaches a running server.
    while (!m_server->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

LoopbackServer::~LoopbackServer() {
    m_stopping.cancel();
    m_server->stop();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

QString LoopbackServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QString LoopbackServer::url(const std::string& path) const {
    return baseUrl() + QString::fromStdString(path);
}

Endpoints LoopbackServer::endpoints() const {
    Endpoints e;
    e.musicBrainzRecording = url("/ws/2/recording");
    e.lastFM = url("/2.0/");
    e.discogs = baseUrl();
    e.spotifyToken = url("/api/token");
    e.spotifyAPI = url("/v1");
    e.anthropicMessages = url("/v1/messages");
    e.anthropicModels = url("/v1/models");
    e.openAIChat = url("/v1/chat/completions");
    e.openAIModels = url("/v1/models");
    e.updateFeed = url("/downloads/version.json");
    return e;
}

void LoopbackServer::script(const std::string& method, const std::string& path,
                            std::vector<Response> responses) {
    auto next = std::make_shared<std::atomic<std::size_t>>(0);
    handle(method, path, [responses = std::move(responses), next](const Request&) {
        const std::size_t index = std::min(next->fetch_add(1), responses.size() - 1);
        return responses.empty() ? Response(404, "{}") : responses[index];
    });
}

void LoopbackServer::handle(const std::string& method, const std::string& path, Handler handler) {
    std::lock_guard lock(m_mutex);
    m_routes[{method, path}] = std::move(handler);
}

LoopbackServer::Response LoopbackServer::answer(const Request& request) {
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        const auto it = m_routes.find({request.method, request.path});
        if (it == m_routes.end()) {
            return Response(404, "{}");
        }
        handler = it->second;
    }
    return handler(request);
}

std::vector<LoopbackServer::Request> LoopbackServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<LoopbackServer::Request> LoopbackServer::requests(const std::string& path) const {
    std::vector<Request> out = requests();
    out.erase(std::remove_if(out.begin(), out.end(), [&](const Request& r) { return r.path != path; }), out.end());
    return out;
}

void LoopbackServer::clearRequests() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

QString closedLoopbackUrl() {
    return LoopbackServer().baseUrl(); // the server stops listening when it is gone
}
