// quorvid-monitor's exit statuses, for the scripts that run it.
#pragma once

namespace quorvid::monitor {

enum ExitStatus {
    kEndedAsAsked = 0,
    kPortLost = 1,
    // --history, --rescore, --results-init, --sync, --import: what was to be
    // read or reached could not be (a folder, a report, the store), or the
    // store refused what it was sent.
    kCannotRead = 1,
    kUsage = 2,            // also a plan refused, or a file that cannot be made
    kNoPort = 3,
    kRecordingFailed = 4,  // the monitor printed on, the recording stopped
    kEvaluationFailed = 5, // a check failed, or the run ended early
};

}  // namespace quorvid::monitor
