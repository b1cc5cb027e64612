// The line's server's figures (bench/line.sh runs it; RESULTS.md keeps them):
//   quorvid_line_bench STORE [CLIENTS [SECONDS]]
// over a store already loaded (quorvid_store_bench load): the snapshot's time
// (the first, each look reaching back a part more, then twice computed again with nothing new), each API answer's time over loopback
// (median of 20), then CLIENTS clients (default 20) each asking for what the
// page asks every second for SECONDS (default 60), with the process's
// resident memory before, during and after. "Now" is ten minutes after the
// store's latest run, so that the last 24 hours hold runs.
#include "backend.h"
#include "server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QUrl>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace quorvid;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: quorvid_line_bench STORE [CLIENTS [SECONDS]]\n");
        return 2;
    }
    QString why;
    const std::optional<store::StoreAddress> address = store::parseStoreAddress(args[1], &why);
    if (!address) return std::fprintf(stderr, "%s\n", qPrintable(why)), 2;
    const int clients = args.size() > 2 ? args[2].toInt() : 20;
    const int seconds = args.size() > 3 ? args[3].toInt() : 60;

    qint64 now = 0;
    {
        store::Backend db(*address);
        std::optional<QSqlQuery> q = db.open() ? db.exec(QStringLiteral("SELECT MAX(started_utc), COUNT(*) FROM runs")) : std::nullopt;
        if (!q || !q->next()) return std::fprintf(stderr, "%s\n", qPrintable(db.problem().why)), 1;
        now = line::utcMs(q->value(0).toString()).value_or(0) + 600000;
        std::printf("line       %s: %lld runs, now %s\n", qPrintable(address->display()), q->value(1).toLongLong(), qPrintable(line::utcText(now)));
    }
    const long before = residentKiB();
    line::Snapshotter snapshots(*address);
    // The first snapshot; then one look every 5 s, each reaching back a part
    // more for the rows before the first window, until they reach the
    // longest window; then twice more a minute apart, each computed afresh.
    auto look = [&](qint64 at) -> std::optional<double> {
        QElapsedTimer t;
        t.start();
        if (!snapshots.poll(at)) return std::fprintf(stderr, "no snapshot: %s\n", qPrintable(snapshots.published().problem)), std::nullopt;
        return double(t.nsecsElapsed()) / 1e6;
    };
    const std::optional<double> first = look(now);
    if (!first) return 1;
    std::vector<double> reach;
    while (snapshots.reachingBack()) {
        const std::optional<double> ms = look(now += line::kLookMs);
        if (!ms) return 1;
        reach.push_back(*ms);
    }
    std::vector<double> again;
    for (int i = 0; i < 2; ++i) {
        const std::optional<double> ms = look(now += line::kRecomputeMs);
        if (!ms) return 1;
        again.push_back(*ms);
    }
    QStringList parts;
    for (double ms : reach) parts << QString::number(ms, 'f', 0);
    std::printf("snapshot   %.0f ms the first; reaching back in %zu looks: %s ms (the longest %.0f); then %.0f and %.0f ms (nothing new; a "
                "minute apart), resident %ld MiB (before %ld MiB)\n",
                *first, reach.size(), qPrintable(parts.join(QStringLiteral(", "))), reach.empty() ? 0.0 : *std::max_element(reach.begin(), reach.end()),
                again[0], again[1], residentKiB() / 1024, before / 1024);

    line::LineServer server(snapshots, {}, [&now] { return now; });
    if (!server.start(QStringLiteral("127.0.0.1"), 0, &why)) return std::fprintf(stderr, "%s\n", qPrintable(why)), 1;
    const std::shared_ptr<const line::Snapshot> s = snapshots.published().snapshot;
    const std::string key = s->data.keys.empty() ? std::string() : QUrl::toPercentEncoding(s->data.keys.front().text).toStdString();
    const std::string week = "/api/v1/yield?since=" + line::utcText(now - 7 * line::kDayMs).toStdString();
    const std::string month = "/api/v1/capability?since=" + line::utcText(now - 30 * line::kDayMs).toStdString();
    const std::string year = "/api/v1/capability?since=" + line::utcText(now - 365 * line::kDayMs).toStdString();
    const std::vector<std::string> paths = {"/api/v1/benches", "/api/v1/yield", week, "/api/v1/pareto", "/api/v1/capability", month, year,
                                            "/api/v1/spc?key=" + key, "/api/v1/board?id=SN-0042", "/healthz", "/"};
    // Asked as a browser asks: it takes every compression the library offers.
    const httplib::Headers browser = {{"Accept-Encoding", "gzip, deflate, br"}};
    httplib::Client c("127.0.0.1", server.port());
    for (const std::string& path : paths) {
        std::vector<double> ms;
        std::size_t bytes = 0;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer t;
            t.start();
            const httplib::Result r = c.Get(path.c_str(), browser);
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
            if (!r || r->status != 200) return std::fprintf(stderr, "%s: %d\n", path.c_str(), r ? r->status : -1), 1;
            bytes = r->body.size();
        }
        std::printf("answer     %-40.40s %7.2f ms (median of 20, max %.2f), %zu bytes\n", path.c_str(), median(ms),
                    *std::max_element(ms.begin(), ms.end()), bytes);
    }

    // The page's questions, every second, from each client.
    const std::vector<std::string> page = {"/api/v1/benches", "/api/v1/yield", week, "/api/v1/pareto", "/api/v1/capability"};
    std::atomic<int> answered{0}, refused{0};
    std::atomic<long> worstUs{0};
    std::vector<long> resident;
    std::vector<std::thread> threads;
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < clients; ++k)
        threads.emplace_back([&, k] {
            httplib::Client client("127.0.0.1", server.port());
            for (int second = 0; second < seconds; ++second) {
                std::this_thread::sleep_until(start + std::chrono::seconds(second) + std::chrono::milliseconds(k * 1000 / clients));
                for (const std::string& path : page) {
                    const auto t = std::chrono::steady_clock::now();
                    const httplib::Result r = client.Get(path.c_str(), browser);
                    const long us = long(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t).count());
                    long seen = worstUs.load();
                    while (us > seen && !worstUs.compare_exchange_weak(seen, us)) {}
                    (r && r->status == 200 ? answered : refused)++;
                }
            }
        });
    for (int second = 0; second < seconds; second += 10) {
        std::this_thread::sleep_until(start + std::chrono::seconds(second));
        resident.push_back(residentKiB() / 1024);
    }
    for (std::thread& t : threads) t.join();
    resident.push_back(residentKiB() / 1024);
    QStringList mib;
    for (long r : resident) mib << QString::number(r);
    std::printf("clients    %d x %d s: %d answered, %d not, slowest %.1f ms; resident MiB every 10 s: %s\n", clients, seconds,
                answered.load(), refused.load(), worstUs.load() / 1000.0, qPrintable(mib.join(QStringLiteral(" "))));
    server.stop();
    return refused.load() == 0 ? 0 : 1;
}
