// The line's view of a store read through a read-only connection of its own:
// whether the store changed since the last look, and the runs, failed checks,
// result keys and rows the figures are computed from.
#pragma once

#include "backend.h"
#include "figures.h"

#include <memory>
#include <tuple>
#include <vector>

namespace quorvid::line {

class StoreReader {
public:
    explicit StoreReader(store::StoreAddress address);

    // What tells a change: the runs' count and largest row (runs are only
    // ever added). nullopt with problem() when the store cannot be read.
    std::optional<std::pair<qint64, qint64>> signature();
    // Everything the figures need; the failed checks and the capability's
    // rows those of runs started from rowsSince on, the rows on the first
    // read those from firstRowsSince on alone (rowsShort() until the next).
    // nullopt with problem().
    std::optional<LineData> read(qint64 rowsSince, qint64 firstRowsSince);
    bool rowsShort() const { return m_rows && m_rowsFrom > m_rowsWanted; }
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
    // added: the failed checks and each key's newest errors, by run row, up
    // to the largest run row read. The next read asks only for what came
    // after it.
    qint64 m_readUpTo = 0;  // 0: nothing kept
    std::vector<std::tuple<qint64, QString, int>> m_failed;  // run row, check, channel
    QHash<qint64, std::vector<std::pair<qint64, double>>> m_errors;  // key: (run row, error), oldest first
    std::shared_ptr<const std::vector<KeyRow>> m_rows;
    qint64 m_rowsFrom = 0, m_rowsWanted = 0;  // the rows held reach back to, and were asked back to
};

}  // namespace quorvid::line
