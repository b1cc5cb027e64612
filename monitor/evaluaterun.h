// quorvid-monitor --evaluate: the evaluation on the terminal. Progress lines on
// standard output as it goes and a summary at the end; the operator's
// instructions on standard error, answered with Enter.
#pragma once

#include "exitstatus.h"
#include "options.h"
#include "plan.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

#include <cstdio>

namespace quorvid {
class SerialControl;
}
namespace quorvid::evaluate {
class OperatorReferenceSetter;
}

namespace quorvid::monitor {

// Checks the evaluation's options against the rest and fills them in; the
// reason they do not go together, or empty.
QString evaluateOptions(bool evaluate, const QString& planFile, const QString& report, const QString& referenceCommand,
                        const QString& operatorName, Options* options);

// The plan the options name, read before anything is sent; nullopt with *error
// naming the file, its line and the problem.
std::optional<evaluate::Plan> evaluationPlan(const Options& options, QString* error);

// Runs the plan on the open port and writes the report; returns the exit
// status: kEndedAsAsked when every check passed, kEvaluationFailed when any
// failed or the run ended early, kPortLost when the port was lost, kUsage when
// a file cannot be made, kRecordingFailed when the recording could not be
// written.
int runEvaluation(const Options& options, const evaluate::Plan& plan, SerialControl& comm, int port,
                  const std::function<void(const QString&)>& printError);

// One line of text to standard output or error, at once.
void printLine(std::FILE* to, const QString& line);

class StdinLines;

// The operator's part of a run on the terminal: each instruction goes to
// standard error, followed by FOR_WHOM (empty for one board), and a line typed
// answers it: Enter measures, "s" skips, "a" aborts. Starts reading TYPED.
void answerOnTerminal(evaluate::OperatorReferenceSetter& person, StdinLines& typed, const QString& forWhom = {});

}  // namespace quorvid::monitor
