// The line's HTTP server: the routes of routes.cpp over a LineService,
// listening on its own thread until stop(). The token, when one is given,
// guards /api/v1/.
#pragma once

#include "service.h"

#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace quorvid::line {

class LineServer {
public:
    LineServer(const Snapshotter& snapshots, QString token, std::function<qint64()> clock);
    ~LineServer();

    // Binds address:port (port 0: any free one, then port() tells) and
    // serves on a thread of its own; false with *why.
    bool start(const QString& address, int port, QString* why);
    int port() const { return m_port; }
    void stop();

private:
    LineService m_service;
    QString m_token;
    std::unique_ptr<httplib::Server> m_http;
    std::thread m_thread;
    int m_port = 0;
};

// The routes, each a few lines over the service (routes.cpp).
void addRoutes(httplib::Server& http, const LineService& service, const QString& token);

}  // namespace quorvid::line
