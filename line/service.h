// What each of the line's requests is answered with, from the published
// snapshot: the JSON answers with as_of, stale and age_s appended, the
// parameters checked (one line saying which and why), the page's files from
// the program's resources. Free of HTTP, so that routes.cpp stays a list.
#pragma once

#include "snapshot.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace quorvid::line {

struct Reply {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    QByteArray etag;  // JSON answers only
};

// A request's query parameter: nullopt when it is not given.
using Param = std::function<std::optional<QString>(const char* name)>;

enum class Api { Benches, Yield, Pareto, Capability, Spc, Board };

class LineService {
public:
    LineService(const Snapshotter& snapshots, std::function<qint64()> clock);

    Reply api(Api what, const Param& param) const;
    Reply healthz() const;
    // "/" and the page's files; nullopt for any other path.
    static std::optional<Reply> pageFile(const QString& path);

private:
    const Snapshotter& m_snapshots;
    std::function<qint64()> m_clock;
    // A control chart's answer (10,000 points, tens of milliseconds to
    // write) made once per snapshot and key, when first asked for.
    mutable std::mutex m_chartsMutex;
    mutable std::weak_ptr<const Snapshot> m_chartsOf;
    mutable QHash<QString, Answer> m_charts;
};

// A one-line text answer (errors, /healthz).
Reply textReply(int status, const QString& line);

}  // namespace quorvid::line
