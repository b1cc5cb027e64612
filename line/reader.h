// The line's view of a store read through a read-only connection of its own:
// whether the store changed since the last look, and the runs, failed checks,
// result keys and rows the figures are computed from.
#pragma once

#include "backend.h"
#include "figures.h"

#include <QSet>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

namespace quorvid::line {

// How many earlier runs' result rows one look reaches back for: some 330,000
// rows of a line's runs, about 1 s of a busy server's time (bench/RESULTS.md).
inline constexpr int kReachPartRuns = 10000;

class StoreReader {
public:
    explicit StoreReader(store::StoreAddress address);

    // What tells a change: the runs' count and largest row (runs are only
    // ever added). nullopt with problem() when the store cannot be read.
    std::optional<std::pair<qint64, qint64>> signature();
    // Everything the figures need; the failed checks and the capability's
    // rows those of runs started from rowsSince on: on the first read those
    // from firstRowsSince on alone, then at each read at most partRuns()
    // runs' more (rowsShort() until they reach rowsSince). nullopt with
    // problem().
    std::optional<LineData> read(qint64 rowsSince, qint64 firstRowsSince);
    bool rowsShort() const { return m_held && m_rowsFrom > m_rowsWanted; }
    // How many earlier runs' rows one read reaches back for (whole days of them).
    int partRuns() const { return m_partRuns; }
    void setPartRuns(int runs) { m_partRuns = std::max(1, runs); }
    // Why the last call failed, scrubbed of any password.
    QString problem() const { return m_problem; }
    // The connection closed, on the thread that made it.
    void close() { m_db.reset(); }

private:
    bool connect();
    bool fail(const QString& why);

    void forget();

    store::StoreAddress m_address;
    std::unique_ptr<store::Backend> m_db;
    QString m_problem;
    // What earlier reads found that cannot change, runs being only ever
    // added: the runs, the failed checks and each key's newest errors, by
    // run row, up to the largest run row read. The next read asks only for
    // what came after it, and for any run that came late below it.
    qint64 m_readUpTo = 0;  // 0: nothing kept
    // The runs read, in the order of LineData::runs, with what indexes them.
    std::vector<LineRun> m_runs;
    QHash<qint64, std::size_t> m_place;
    QHash<QString, std::size_t> m_firstRun;
    QSet<QString> m_texts;  // the texts many runs share (benches, stations, operators, verdicts), held once
    std::vector<std::tuple<qint64, QString, int>> m_failed;  // run row, check, channel
    QHash<qint64, std::vector<std::pair<qint64, double>>> m_errors;  // key: (run row, error), oldest first
    HeldDays m_days;
    QSet<qint64> m_copies;  // the runs that were copies at the last read: their days' figures leave them out
    bool m_held = false;    // rows were read
    qint64 m_rowsFrom = 0, m_rowsWanted = 0;  // the rows held reach back to, and were asked back to
    int m_partRuns = kReachPartRuns;
};

}  // namespace quorvid::line
