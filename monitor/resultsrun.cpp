#include "resultsrun.h"

#include "exitstatus.h"

namespace quorvid::monitor {

std::optional<store::StoreAddress> runStore(const Options& options, const Printer& printError)
{
    QString why;
    std::optional<store::StoreAddress> to = store::chooseStore(options.results, &why);
    if (!to) printError(why);
    return to;
}

void deliver(const store::StoreAddress& to, const QStringList& reportJsons, const QString& stationName,
             const Printer& printError)
{
    if (to.kind == store::StoreAddress::Kind::None) return;
    for (const store::Delivery& d : store::deliverRuns(to, reportJsons, stationName))
        if (!d.line.isEmpty()) printError(d.line);
}

namespace {

// The store a mode of its own works on: none is no store to work on.
std::optional<store::StoreAddress> modeStore(const Options& options, const char* mode, const Printer& printError)
{
    std::optional<store::StoreAddress> to = runStore(options, printError);
    if (to && to->kind == store::StoreAddress::Kind::None) {
        printError(QStringLiteral("%1 wants a store, not none").arg(QLatin1String(mode)));
        return std::nullopt;
    }
    return to;
}

}  // namespace

int runResultsInit(const Options& options, const Printer& print, const Printer& printError)
{
    const std::optional<store::StoreAddress> to = modeStore(options, "--results-init", printError);
    if (!to) return kUsage;
    QString said, why;
    if (!store::initSchema(*to, &said, &why)) {
        printError(why);
        return kCannotRead;
    }
    print(said);
    return kEndedAsAsked;
}

int runSync(const Options& options, const Printer& print, const Printer& printError)
{
    const std::optional<store::StoreAddress> to = modeStore(options, "--sync", printError);
    if (!to) return kUsage;
    const store::SyncOutcome s = store::syncOutbox(*to);
    if (!s.reached || s.left > 0) {
        printError(s.line);
        return kCannotRead;
    }
    print(s.line);
    return kEndedAsAsked;
}

int runImport(const Options& options, const Printer& print, const Printer& printError)
{
    const std::optional<store::StoreAddress> to = modeStore(options, "--import", printError);
    if (!to) return kUsage;
    const store::ImportOutcome r = store::importReports(*to, options.importDir);
    if (!r.ok) {
        printError(r.line);
        return kCannotRead;
    }
    print(r.line);
    for (const evaluate::HistorySkip& s : r.skipped) print(QStringLiteral("  skipped %1: %2").arg(s.path, s.reason));
    return kEndedAsAsked;
}

}  // namespace quorvid::monitor
