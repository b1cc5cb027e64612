// Ends the event loop when the system asks the program to stop (SIGINT,
// SIGTERM and SIGHUP; a console's Ctrl+C or close on Windows), so that the
// program leaves through its normal path and cleans up after itself. A second
// request ends it at once. A closed pipe no longer ends the program on Unix:
// its writes are refused instead. On Windows the console's close waits, a few
// seconds at most, until the QCoreApplication is gone.
#pragma once

#include <QString>

namespace quorvid {

// Call once, with a QCoreApplication in place. False with a reason on failure.
bool quitOnTerminationRequest(QString* error);

}  // namespace quorvid
