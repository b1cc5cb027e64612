// Ends the event loop when the system asks the program to stop (SIGINT,
// SIGTERM and SIGHUP; a console's Ctrl+C or close on Windows), so that the
// program leaves through its normal path and cleans up after itself.
#pragma once

#include <QString>

namespace quorvid {

// Call once, with a QCoreApplication in place. False with a reason on failure.
bool quitOnTerminationRequest(QString* error);

}  // namespace quorvid
