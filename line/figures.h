// The line's figures, computed from the runs of a store held in memory: which
// bench ran what and when, the yields, the failure Pareto, each result's
// capability and its control chart. Pure code over the rows: nothing here
// reads the store or answers a request, so each figure can be checked against
// rows written by hand.
#pragma once

#include "history.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace quorvid::line {

// A stored run, texts as read back (store::textRead).
struct LineRun {
    qint64 id = 0;  // the store's row
    QString runId, boardId, bench, station, operatorName, verdict, reportPath, startedUtc;
    QString recording, storedPath;  // what tells its copies (markCopies): its recording, its report's path as stored
    qint64 startedMs = 0;
    int failed = 0;            // results failed
    bool judgedAgain = false;  // rescored_from set: listed, counted nowhere
    // Another report of a recording that is counted (markCopies): listed,
    // counted nowhere, as --history counts it.
    bool copy = false;
    bool counts() const { return !judgedAgain && !copy; }
    bool passed() const { return verdict == u"pass"; }
};

// A check whose results failed in a run, once per run, check and channel.
struct FailedCheck {
    std::size_t run = 0;  // index into LineData::runs
    QString check;
    int channel = 0;      // 0: the check has none
};

// A result row of a run, for the capability of its key; held for every run
// of the longest window, so kept small.
struct KeyRow {
    qint64 run = 0;    // the run's row in the store (LineData::place)
    qint64 startedMs = 0;  // the run's
    qint64 keyId = 0;  // the key's row in the store (LineData::keyIndex)
    int position = 0;
    bool passed = false, marginal = false, hasError = false, hasLimit = false;
    double error = 0, limit = 0;
};

// A key's figures over some rows, to which another's add: the history's exact
// sums, so that adding whole days in any order comes out the same to the
// last bit as adding the rows one by one. The first row (the answer's order)
// and the latest limit are taken by the runs' order: started, then the run's
// row, then the result's place in it.
struct KeyFigures {
    struct Seq {
        qint64 startedMs = 0, run = 0;
        int position = 0;
        friend auto operator<=>(const Seq&, const Seq&) = default;
    };
    int n = 0, passed = 0, marginal = 0;
    evaluate::ErrorSums sums;
    double minError = 0, maxError = 0;  // with sums.count > 0
    Seq first, lastLimit;
    bool limited = false;
    double limit = 0;
    void add(const KeyRow& row);
    void add(const KeyFigures& other);
};

// A UTC day's result rows, held whole (a window's first and last days are
// read row by row), and their figures by key over the counted ones, which a
// window that holds the whole day adds as they are.
struct HeldDay {
    std::vector<KeyRow> rows;
    std::map<qint64, KeyFigures> figures;  // by the key's store id
};
using HeldDays = std::map<qint64, std::shared_ptr<const HeldDay>>;  // by the day's first ms

// A day's figures over its rows but those of the runs that count nowhere
// (copies: uncounted holds their store rows).
std::shared_ptr<const HeldDay> heldDay(std::vector<KeyRow> rows, const QSet<qint64>& uncounted);

struct KeyPoint {
    std::size_t run = 0;
    double error = 0;
};

struct LineKey {
    QString text;  // the key's text in the store; spc?key= takes it
    evaluate::ResultKey key;
    std::vector<KeyPoint> points;  // the newest kSpcPoints with an error, oldest first
};

inline constexpr std::size_t kSpcPoints = 10000;
inline constexpr std::size_t kBoardRuns = 1000;
inline constexpr qint64 kDayMs = 24LL * 3600 * 1000;
inline constexpr qint64 kMaxWindowMs = 400 * kDayMs;

// Everything a snapshot holds; runs oldest first (started, then row).
struct LineData {
    std::vector<LineRun> runs;
    std::vector<FailedCheck> failedChecks;
    // The result rows of the runs started from rowsSince on (the longest
    // window back from the snapshot, and a day; the first snapshot's own
    // window alone, then a part more at each look), by day; each day shared
    // with the reader, which makes a day anew only when its rows or the
    // copies among its runs change. The failed checks of runs from
    // checksSince on.
    HeldDays days;
    qint64 rowsSince = 0, checksSince = 0;  // the rows', the failed checks'
    QHash<qint64, std::size_t> place;  // a run's store row: index into runs
    QHash<qint64, std::size_t> keyIndex;  // the key's store id: index into keys
    std::vector<LineKey> keys;
    // Each board's first counted run in the whole store, on any bench
    // (indexFirstRuns): what tells a first pass from a retest.
    QHash<QString, std::size_t> firstRun;
};

// Marks the copies among data.runs: of the reports of one recording all but
// the one --history counts.
void markCopies(LineData& data);
// Fills data.firstRun once the runs are in order.
void indexFirstRuns(LineData& data);

struct Window {
    qint64 since = 0, until = 0;  // ms since the epoch, UTC; since inclusive, until exclusive
};

// "2026-12-07T14:02:03.123Z" (or without milliseconds, or a day alone) as ms
// since the epoch, UTC; nullopt when it is not such a time.
std::optional<qint64> utcMs(const QString& text);
QString utcText(qint64 ms);

// Each answer's figures as a JSON object, without as_of, stale and age_s.
QJsonObject benchesJson(const LineData& data, const Window& w);
QJsonObject yieldJson(const LineData& data, const Window& w);
QJsonObject paretoJson(const LineData& data, const Window& w);
// Over the rows the data holds: a window must start at rowsSince or later.
QJsonObject capabilityJson(const LineData& data, const Window& w);
// The chart's figures as QJsonDocument's compact form holds them; nullopt
// for a key the data does not have.
std::optional<QByteArray> spcJson(const LineData& data, const QString& key);
QJsonObject boardJson(const LineData& data, const QString& boardId);

// A control chart of individuals: centre, sigma from the mean moving range,
// and each point's Western Electric flags (1 to 4) on the point that
// completes the pattern.
struct ControlChart {
    double centre = 0, sigma = 0;
    std::vector<std::vector<int>> flags;  // per point
};
ControlChart controlChart(const std::vector<double>& values);

}  // namespace quorvid::line
