// The line's routes: the API as it is listed in docs/results.md, each route
// a copy of what the service answers; the computing is elsewhere.
#include "server.h"

#include <httplib.h>

#include <algorithm>
#include <memory>

namespace quorvid::line {

namespace {

// Every answer, errors too, says what it is and forbids everything the page
// does not need: no inline script or style, nothing from elsewhere.
void secure(httplib::Response& res)
{
    if (res.has_header("Content-Security-Policy")) return;  // set before routing
    res.set_header("Content-Security-Policy", "default-src 'self'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-cache");
}

// A body the library is given whole it compresses, when the client takes
// it, with brotli at its highest quality: 2.9 s of the server's time for a
// control chart's 1.5 MB, 0.57 s for chart.min.js, at every request of a
// browser. A body of known length from a provider goes as it is (a line's
// screens are on its own network), at once.
void sendAsItIs(std::string body, const std::string& type, httplib::Response& res)
{
    auto held = std::make_shared<const std::string>(std::move(body));
    res.set_content_provider(held->size(), type, [held](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        return sink.write(held->data() + offset, std::min(length, held->size() - offset));
    });
}

void send(const Reply& reply, const httplib::Request& req, httplib::Response& res)
{
    res.status = reply.status;
    if (!reply.etag.isEmpty()) {
        res.set_header("ETag", reply.etag.toStdString());
        if (req.get_header_value("If-None-Match") == reply.etag.toStdString()) {
            res.status = 304;
            return;
        }
    }
    // A refusal's line is set whole: the error handler looks for it.
    if (reply.status >= 400) res.set_content(reply.body.toStdString(), reply.contentType.toStdString());
    else sendAsItIs(reply.body.toStdString(), reply.contentType.toStdString(), res);
}

void sendText(int status, const char* line, httplib::Response& res)
{
    res.status = status;
    res.set_content(std::string(line) + '\n', "text/plain; charset=utf-8");
}

Param paramsOf(const httplib::Request& req)
{
    return [&req](const char* name) -> std::optional<QString> {
        if (!req.has_param(name)) return std::nullopt;
        return QString::fromStdString(req.get_param_value(name));
    };
}

}  // namespace

void addRoutes(httplib::Server& http, const LineService& service, const QString& token)
{
    auto api = [&service](Api what) {
        return [&service, what](const httplib::Request& req, httplib::Response& res) { send(service.api(what, paramsOf(req)), req, res); };
    };
    http.Get("/api/v1/benches", api(Api::Benches));
    http.Get("/api/v1/yield", api(Api::Yield));
    http.Get("/api/v1/pareto", api(Api::Pareto));
    http.Get("/api/v1/capability", api(Api::Capability));
    http.Get("/api/v1/spc", api(Api::Spc));
    http.Get("/api/v1/board", api(Api::Board));
    http.Get("/healthz", [&service](const httplib::Request& req, httplib::Response& res) { send(service.healthz(), req, res); });
    http.Get("/|/line\\.js|/line\\.css|/chart\\.min\\.js", [](const httplib::Request& req, httplib::Response& res) {
        if (const std::optional<Reply> file = LineService::pageFile(QString::fromStdString(req.path))) send(*file, req, res);
    });

    // GET and HEAD only: whatever else is asked changes nothing, and a body
    // sent with it is not read into memory beyond this.
    http.set_payload_max_length(64 * 1024);
    auto refuse = [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Allow", "GET, HEAD");
        sendText(405, "method not allowed: GET and HEAD only", res);
    };
    http.Post(".*", refuse).Put(".*", refuse).Patch(".*", refuse).Delete(".*", refuse).Options(".*", refuse);

    // The token guards the API; every answer gets its headers first.
    http.set_pre_routing_handler([token](const httplib::Request& req, httplib::Response& res) {
        secure(res);
        if (token.isEmpty() || req.path.rfind("/api/v1/", 0) != 0) return httplib::Server::HandlerResponse::Unhandled;
        if (req.get_header_value("Authorization") == "Bearer " + token.toStdString()) return httplib::Server::HandlerResponse::Unhandled;
        res.set_header("WWW-Authenticate", "Bearer");
        sendText(401, "unauthorized: Authorization: Bearer TOKEN", res);
        return httplib::Server::HandlerResponse::Handled;
    });
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        secure(res);
        if (res.body.empty()) sendText(res.status, res.status == 404 ? "not found" : "refused", res);
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        secure(res);
        sendText(500, "internal error", res);
    });
}

LineServer::LineServer(const Snapshotter& snapshots, QString token, std::function<qint64()> clock)
    : m_service(snapshots, std::move(clock))
    , m_token(std::move(token))
{
}

LineServer::~LineServer() { stop(); }

bool LineServer::start(const QString& address, int port, QString* why)
{
    m_http = std::make_unique<httplib::Server>();
    addRoutes(*m_http, m_service, m_token);
    const std::string host = address.toStdString();
    m_port = port == 0 ? m_http->bind_to_any_port(host) : (m_http->bind_to_port(host, port) ? port : -1);
    if (m_port <= 0) {
        if (why) *why = QStringLiteral("cannot listen on %1:%2: %3").arg(address).arg(port).arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_thread = std::thread([this] { m_http->listen_after_bind(); });
    return true;
}

void LineServer::stop()
{
    if (m_http) m_http->stop();
    if (m_thread.joinable()) m_thread.join();
}

}  // namespace quorvid::line
