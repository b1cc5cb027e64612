// A writer of runs for the store's tests, as a process of its own so a test
// can run several at once or kill one mid-run.
//   store_writer STORE REPORT.json...        stores each run (deliverRun) and
//                                            prints each outcome's line
//   store_writer --stop-mid-run STORE REPORT.json
//                                            writes the run's first results,
//                                            prints "mid-run" and waits on
//                                            standard input, uncommitted, to be killed
#include "resultsstore.h"
#include "storerun.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

using namespace quorvid;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool stopMidRun = !args.isEmpty() && args.front() == u"--stop-mid-run";
    if (stopMidRun) args.removeFirst();
    QTextStream out(stdout);
    QString why;
    const std::optional<store::StoreAddress> address = args.size() >= 2 ? store::parseStoreAddress(args[0], &why) : std::nullopt;
    if (!address) {
        QTextStream(stderr) << "usage: store_writer [--stop-mid-run] STORE REPORT.json... " << why << '\n';
        return 2;
    }
    if (!stopMidRun) {
        int lost = 0;
        for (const QString& report : args.mid(1)) {
            const store::Delivery d = store::deliverRun(*address, report);
            out << d.line << '\n';
            lost += d.outcome != store::Delivery::Outcome::Stored && d.outcome != store::Delivery::Outcome::AlreadyStored;
        }
        return lost ? 1 : 0;
    }
    const std::optional<evaluate::StoredReport> report = evaluate::readReportFile(args[1], &why);
    store::Backend db(*address);
    if (!report || !db.open()) return 1;
    store::storeRun(db, *report, args[1], {}, [&out](int written) {
        if (written != 3) return;
        out << "mid-run" << Qt::endl;
        std::getchar();  // killed here, its transaction open
    });
    return 1;  // the test kills it first
}
