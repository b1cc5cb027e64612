// The history of evaluations across boards and time: every report under a
// folder read back (a single board's run, or each board of a station), and
// per result (check, kind, channel, quantity, reference) the statistics of
// its error across runs, which board is worst, how often it passed, its Cpk
// against its limit. Written as NAME.json for programs, NAME.csv for a
// spreadsheet and NAME.html (self-contained, plots as inline SVG, links to
// each run's report) for people. A file that is not a readable report never
// stops the summary: it is named, with why, among the skipped.
#pragma once

#include "storedreport.h"

#include <QByteArray>
#include <QDate>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace quorvid::evaluate {

struct HistoryRequest {
    QString dir;
    QString boardId;             // only this board's runs; empty for every board
    std::optional<QDate> since;  // only runs started on this day (UTC) or after
};

struct HistoryRun {
    QString boardId;  // board_id, or the port in a report that has none
    QString startedUtc, identification, operatorName, plan, verdict;
    int failed = 0, marginal = 0;
    QString report;   // relative to the folder, '/' between names
    QString path;     // as found
    std::vector<CheckOutcome> checks;
    QString bench = {};  // empty when its report names none
};

// What the statistics of one result across runs are kept by.
struct ResultKey {
    QString check, kind;
    int channel = 0;  // 0 for none
    QString quantity, unit;
    std::optional<double> reference;
    friend bool operator==(const ResultKey&, const ResultKey&) = default;
};

// The history's statistics of an error are taken over whole millionths of
// its unit, so that they come out the same to the last bit in whatever order
// the runs are summed: from a folder's reports or grouped by a store's SQL.
// An error's millionths: llround(error * 1e6).
qint64 errorMillionths(double error);

// The exact sums of a result's errors in millionths. The squares are kept as
// two parts, square = high * 2^40 + low (low in [0, 2^40)), each summing in
// 64 bits for any plausible error over millions of runs, SQLite's too.
struct ErrorSums {
    qint64 count = 0, sum = 0, squaresHigh = 0, squaresLow = 0;
    static constexpr int kLowBits = 40;
    static qint64 squareHigh(qint64 millionths);
    static qint64 squareLow(qint64 millionths);
    void add(double error);
    // The mean and, from two errors, the sample standard deviation, from the
    // exact sums; the one computation of both for a folder and a store.
    double mean() const;
    std::optional<double> sd() const;
};

struct ResultStats {
    ResultKey key;
    int n = 0;          // runs that judged it (passed or failed)
    int passed = 0, marginal = 0;
    // Over the n that have a figure (a row that failed for want of frames has none).
    int figures = 0;
    std::optional<double> meanError, sdError, minError, maxError;
    QString worstBoard;             // of the largest |error|
    std::optional<double> limit;    // the latest run's
    std::optional<double> cpk;      // (limit - |mean|) / (3 SD); none below 2 figures or with SD 0
    double passRate() const { return n > 0 ? double(passed) / n : 0; }
};

struct HistorySkip {
    QString path;    // relative to the folder
    QString reason;
};

struct History {
    HistoryRequest request;
    std::vector<HistoryRun> runs;        // oldest first
    std::vector<ResultStats> results;    // in the order the runs first give them
    std::vector<HistorySkip> skipped;    // in order of path
};

// Reads every report under request.dir, its folders too; nullopt with *error
// when the folder itself cannot be read. progress, when given, hears of each
// file read (done, of total).
std::optional<History> readHistory(const HistoryRequest& request, QString* error,
                                   const std::function<void(int, int)>& progress = {});

// The statistics of the runs' results, as readHistory fills them in.
std::vector<ResultStats> resultStatistics(const std::vector<HistoryRun>& runs);
// What follows from a result's gathered errors: figures, mean, SD and Cpk
// (its limit already set).
void finishStatistics(ResultStats& s, const ErrorSums& sums);

// The page stays light at any size: it lists the latest kPageRuns runs with a
// count of the earlier ones, and plots the boards plottedBoards names; the
// JSON and the CSV hold everything.
inline constexpr std::size_t kPageRuns = 200;
inline constexpr std::size_t kPlottedBoards = 5;
// The boards the page plots, of those with two runs or more: the one asked
// for, else the few worst (the most failed results, then the most marginal
// ones, then by name).
QStringList plottedBoards(const History& history);

// A text and a number appended to JSON text as QJsonDocument writes them
// (a number that is not finite as null): for what is written by hand.
void appendJsonText(QByteArray& out, QStringView text);
void appendJsonNumber(QByteArray& out, double value);

// The summary's JSON as its file holds it (QJsonDocument's indented form),
// and as an object.
QByteArray historyJsonText(const History& history);
QJsonObject historyJson(const History& history);
QByteArray historyCsv(const History& history);
// Links to each run's report go relative to the folder the page is written to.
QString historyHtml(const History& history, const QString& pageFolder);

// NAME.json, NAME.csv and NAME.html, all three or none; false with *error
// naming the file and the system's reason.
bool writeHistory(const History& history, const QString& name, QString* error);

}  // namespace quorvid::evaluate
