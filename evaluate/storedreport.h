// A report read back from its NAME.json, for the history across runs and for
// judging a run again. Reports come from other people and other versions, so
// nothing in them is trusted: a field of the wrong type is refused, naming it,
// and the plan is read through the same keys and ranges as a plan file.
#pragma once

#include "report.h"

#include <QJsonObject>
#include <QString>

#include <optional>

namespace quorvid::evaluate {

struct StoredReport {
    // Every field this version writes; the results' plots are not stored.
    // info.boardId is board_id, or the port in a report that has none.
    ReportInfo info;
    QJsonObject json;  // as read
};

// What a JSON file under a folder of reports turned out to be.
enum class StoredKind {
    Report,          // a board's report
    StationSummary,  // a station's summary ("station": true); its boards have reports of their own
    HistorySummary,  // a summary written by the history
    Foreign,         // JSON, but not a report
};

// Which kind the object is, before reading it.
StoredKind storedKind(const QJsonObject& json);

// A board's report from its JSON; nullopt with *why ("checks[2].results[0]:
// verdict is not pass, fail or skipped") when a field is missing or of the
// wrong kind. source names the file in the plan's messages.
std::optional<StoredReport> readReportJson(const QJsonObject& json, const QString& source, QString* why);

// The run_id of a report written before runs had one: a name-based UUID (v5)
// over the report's compact JSON (its keys in order), the same every time and
// on every bench it is read.
QString derivedRunId(const QJsonObject& json);

// The largest report read: far beyond any run's (a day-long drift check's is
// some kilobytes), small enough to read whole.
inline constexpr qint64 kMaxReportBytes = 64LL * 1024 * 1024;

// Reads a file as a JSON object; nullopt with *why: the system's reason, "too
// large", or "not JSON: <what> at byte N".
std::optional<QJsonObject> readJsonFile(const QString& path, QString* why);

// The file of a report read whole: *error names the file and what is wrong.
std::optional<StoredReport> readReportFile(const QString& path, QString* error);

}  // namespace quorvid::evaluate
