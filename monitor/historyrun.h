// quorvid-monitor --history and --rescore: reading past reports on the
// terminal, with no port opened. The work is evaluate/'s (history.h,
// rescore.h); this prints what was done and chooses the exit status.
#pragma once

#include "exitstatus.h"
#include "options.h"

#include <QString>

#include <functional>

namespace quorvid::monitor {

using Printer = std::function<void(const QString&)>;

// Summarises the reports under options.history into options.summary's three
// files; kEndedAsAsked when written, 1 when the folder cannot be read, kUsage
// when a file cannot be written.
int runHistory(const Options& options, const Printer& print, const Printer& printError);

// Judges options.rescore again under options.rescorePlan (the report's own
// plan without one) into options.report's files; kEndedAsAsked or
// kEvaluationFailed as the new verdict says, 1 when the report or its
// recording cannot be read or the plan asks for what the run did not
// measure, kUsage when the plan or a file cannot be read or written.
int runRescore(const Options& options, const Printer& print, const Printer& printError);

// The certificate of the report options.certificate names, as that report
// has its figures, into options.certificateOut (the report's NAME.pdf
// without it); kEndedAsAsked when written, 1 when the report cannot be read,
// kUsage when the file cannot be written.
int runCertificate(const Options& options, const Printer& print, const Printer& printError);

}  // namespace quorvid::monitor
