// quorvid-monitor's results store options: what each asks for, and the one
// line that names what is wrong with the rest.
#include "options.h"

#include <gtest/gtest.h>

using namespace quorvid::monitor;

namespace {

std::string text(const QString& s) { return s.toStdString(); }

}  // namespace

TEST(MonitorStoreOptions, EachModeTakesItsStoreAndNothingOfARun)
{
    struct Case {
        const char* name;
        QStringList args;
        QString results, importDir, history;
        bool sync = false, init = false, evaluate = false;
    };
    const QString pg = QStringLiteral("postgresql://bench@db1:5433/quorvid?sslmode=require");
    const Case cases[] = {
        {"evaluate", {"--evaluate", "--report", "r", "--results", "sqlite:/tmp/r.sqlite"}, "sqlite:/tmp/r.sqlite", {}, {}, false, false, true},
        {"station", {"--evaluate", "--port", "a", "--board-id", "A", "--results", "none", "--port", "b", "--report", "r"}, "none", {}, {}, false, false, true},
        {"rescore", {"--rescore", "r.json", "--report", "n", "--results", pg}, pg, {}, {}},
        {"import", {"--import", "old", "--results", pg}, pg, "old", {}},
        {"sync from QUORVID_RESULTS", {"--sync"}, {}, {}, {}, true},
        {"init", {"--results-init", "--results", "sqlite:x.sqlite"}, "sqlite:x.sqlite", {}, {}, false, true},
        {"history of a store", {"--history", pg, "--summary", "s", "--board-id", "A"}, {}, {}, pg},
        {"history of a folder", {"--history", "evaluations", "--summary", "s"}, {}, {}, "evaluations"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedOptions p = parseOptions(c.args);
        ASSERT_TRUE(p.options) << text(p.error);
        EXPECT_EQ(p.options->results, c.results);
        EXPECT_EQ(p.options->importDir, c.importDir);
        EXPECT_EQ(p.options->history, c.history);
        EXPECT_EQ(p.options->sync, c.sync);
        EXPECT_EQ(p.options->resultsInit, c.init);
        EXPECT_EQ(p.options->evaluate, c.evaluate);
    }
    EXPECT_TRUE(namesStore(QStringLiteral("sqlite:C:/runs/r.sqlite")));
    EXPECT_FALSE(namesStore(QStringLiteral("C:/runs")));
}

TEST(MonitorStoreOptions, RefusalsNameTheProblemInOneLine)
{
    struct Case {
        QStringList args;
        const char* says;
    };
    const Case cases[] = {
        {{"--results", "mysql://h/db", "--sync"}, "mysql://h/db"},
        {{"--results", "", "--sync"}, "--results wants a store"},
        {{"--results", "sqlite:a", "--results", "sqlite:b", "--sync"}, "--results given more than once"},
        {{"--results", "sqlite:a"}, "--results goes with --evaluate"},
        {{"--port", "/dev/pts/1", "--results", "sqlite:a"}, "--results goes with --evaluate"},
        {{"--sync", "--import", "d"}, "--import and --sync exclude each other"},
        {{"--results-init", "--history", "d", "--summary", "s"}, "--history and --results-init exclude each other"},
        {{"--sync", "--port", "/dev/pts/1"}, "--port does not go with --sync (which takes --results)"},
        {{"--import", "d", "--report", "r"}, "--report does not go with --import"},
        {{"--history", "d", "--summary", "s", "--results", "sqlite:a"}, "name the store as its source"},
        {{"--history", "postgres-ql://h/db", "--summary", "s"}, "postgres-ql://h/db"},
        {{"--history", "none:", "--summary", "s"}, "--history"},
        {{"--import", ""}, "--import wants a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(text(c.args.join(u' ')));
        const ParsedOptions p = parseOptions(c.args);
        ASSERT_FALSE(p.options);
        EXPECT_TRUE(p.error.contains(QLatin1String(c.says))) << text(p.error);
        EXPECT_FALSE(p.error.contains(u'\n')) << text(p.error);
    }
    // The help text and the manual page carry every option (check-man-options.sh).
    for (const char* option : {"--results STORE", "--results-init", "--sync", "--import DIR", "--history SOURCE"})
        EXPECT_TRUE(helpText().contains(QLatin1String(option))) << option;
}
