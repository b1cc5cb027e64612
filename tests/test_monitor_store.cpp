// quorvid-monitor's results store options: what each mode takes, and the one
// line that names what is wrong with the rest.
#include "options.h"

#include <gtest/gtest.h>

using namespace quorvid::monitor;

TEST(MonitorStoreOptions, EachModeTakesItsStoreAndRefusalsNameTheProblem)
{
    const auto what = [](const Options& o) {
        QString serve;
        if (o.servePort > 0) serve = QStringLiteral(" serve=%1:%2%3").arg(o.serveAddress).arg(o.servePort).arg(o.serveTokenFile.isEmpty() ? "" : " token");
        return QStringLiteral("results=%1 import=%2 history=%3%4%5%6")
                   .arg(o.results, o.importDir, o.history, o.sync ? " sync" : "", o.resultsInit ? " init" : "", o.evaluate ? " evaluate" : "") +
               serve;
    };
    const QString pg = QStringLiteral("postgresql://bench@db1:5433/q?sslmode=require");
    const struct {
        QStringList args;
        QString says;  // what() when taken, else a part of the one-line refusal
    } cases[] = {
        {{"--evaluate", "--report", "r", "--port", "a", "--board-id", "A", "--results", "none", "--port", "b"}, "results=none import= history= evaluate"},
        {{"--rescore", "r.json", "--report", "n", "--results", pg}, "results=" + pg + " import= history="},
        {{"--import", "old", "--results", "sqlite:x"}, "results=sqlite:x import=old history="},
        {{"--sync"}, "results= import= history= sync"},
        {{"--history", pg, "--summary", "s", "--board-id", "A"}, "results= import= history=" + pg},
        {{"--results", "mysql://h/db", "--sync"}, "\"mysql://h/db\" is not"},
        {{"--port", "/dev/pts/1", "--results", "sqlite:a"}, "--results goes with --evaluate"},
        {{"--sync", "--import", "d"}, "--import and --sync exclude each other"},
        {{"--sync", "--port", "/dev/pts/1"}, "--port does not go with --sync (which takes --results)"},
        {{"--history", "d", "--summary", "s", "--results", "sqlite:a"}, "name the store as its source"},
        {{"--history", "none:", "--summary", "s"}, "--history: \"none:\""},
        {{"--serve", "8080"}, "results= import= history= serve=127.0.0.1:8080"},
        {{"--serve", "0.0.0.0:80", "--results", pg, "--serve-token-file", "t"}, "results=" + pg + " import= history= serve=0.0.0.0:80 token"},
        {{"--serve", "[::1]:8080"}, "results= import= history= serve=::1:8080"},
        {{"--serve", "65536"}, "--serve wants [ADDRESS:]PORT"},
        {{"--serve", "host:"}, "--serve wants [ADDRESS:]PORT"},
        {{"--serve", "8080", "--port", "/dev/pts/1"}, "--port does not go with --serve"},
        {{"--serve-token-file", "t", "--sync"}, "--serve-token-file does not go with --sync"},
        {{"--bench", "b2", "--port", "/dev/pts/1"}, "--bench goes with --evaluate"},
    };
    for (const auto& c : cases) {
        const ParsedOptions p = parseOptions(c.args);
        const QString got = p.options ? what(*p.options) : p.error;
        EXPECT_TRUE(p.options ? got == c.says : got.contains(c.says) && !got.contains(u'\n'))
            << c.args.join(u' ').toStdString() << ": " << got.toStdString();
    }
}
