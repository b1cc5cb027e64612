// The program's command line: what to do, read from the arguments without
// needing an application object or a display, so that --help, --version and
// a mistyped option answer at once, even where no window could open.
#pragma once

#include <QString>
#include <QStringList>

namespace quorvid {

struct ReviewRequest;

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    QString port;    // --port: the device COM1 stands for; empty when not given
    QString record;  // --record: the recording's CSV file; empty when not given
    // --review NAME.bytes|NAME.csv, and what to do with it without a window:
    // --range FROM:TO (seconds), --export-csv, --export-png, --stats.
    QString review;
    QString range;
    QString exportCsv;
    QString exportPng;
    bool stats = false;
    // A review that writes files or statistics and opens no window.
    bool reviewWithoutWindow() const { return !review.isEmpty() && (!exportCsv.isEmpty() || !exportPng.isEmpty() || stats); }
    // The review's part, for the review window's room (review/reviewcommand.h).
    ReviewRequest reviewRequest() const;
    QString error;   // for Error: the one line for standard error, without its end
    // The process's exit status when it ends without a window: 0 for Help and
    // Version, 2 for a usage error.
    int exitStatus() const { return action == Action::Error ? 2 : 0; }
};

// Reads arguments as main() gets them, the program's name first. Qt's own
// options (-platform NAME, -style NAME, -reverse, ...) are passed over here:
// QApplication takes them itself.
CommandLine parseCommandLine(const QStringList& arguments);

// The arguments of the Qt options parseCommandLine passes over, for tests and
// for a reader wondering why "-platform offscreen" is not an error: the
// options in the first list take a value ("-platform offscreen"; "-style" and
// "-stylesheet" also "-style=fusion"), those in the second stand alone
// ("-qmljsdebugger" with its "=value"). Either may have one dash or two.
const QStringList& qtOptionsWithValue();
const QStringList& qtFlagOptions();

// What --help prints and --version prints, each ending in a line end. The
// help text needs an application object for the program's name; any will do.
QString helpText();
QString versionText();

}  // namespace quorvid
