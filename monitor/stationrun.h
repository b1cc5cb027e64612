// quorvid-monitor --evaluate with several --port: a station, every board
// evaluated in step with the others against one reference (evaluate/'s
// Station). Progress and result lines on standard output, each result
// prefixed with its board's ID; the operator's instructions on standard
// error, one for all boards; at the end each board's failures, where the
// reports went, a line per board and the station's verdict.
#pragma once

#include "options.h"
#include "plan.h"

#include <QString>

#include <functional>

namespace quorvid::monitor {

// Opens every port, runs the plan on the boards whose ports opened (the
// others fail with the reason) and writes every report and the summary;
// returns the exit status: kEndedAsAsked when every board passed,
// kEvaluationFailed when any failed, kNoPort when no port opened, kUsage when
// the IDs do not go together or a file cannot be made, kRecordingFailed when
// a board's recording could not be written.
int runStation(const Options& options, const evaluate::Plan& plan, const std::function<void(const QString&)>& printError);

}  // namespace quorvid::monitor
