// What every front end of an evaluation does the same way: the window's
// dialog and quorvid-monitor --evaluate choose the reference setter, set up
// the session, word each result, the verdict and the summary, and save a
// finished run's files here, so that both say the same things in the same
// words and a new front end starts from the same pieces.
#pragma once

#include "boardstate.h"
#include "reference.h"
#include "session.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace quorvid {
class SerialControl;
}

namespace quorvid::evaluate {

// Quorvid's version, as every recording and report of a run names it.
QString programVersion();

// The reference setter of a run: the shell command when one is given (blanks
// around it do not count), else the operator, asked through the front end.
struct ReferenceChoice {
    std::unique_ptr<ReferenceSetter> setter;
    OperatorReferenceSetter* person = nullptr;  // setter, when it asks the operator
};
ReferenceChoice chooseReference(const QString& command);

// One board under evaluation: the serial control it is on, the name of that
// port ("COM3", from serial/'s comName) and what it was last told.
struct BoardLink {
    SerialControl* comm = nullptr;
    QString port;
    BoardState state;
    QString boardId;  // serial number or asset tag; empty: the port stands in
};

// What a front end knows of a run before it starts.
struct RunRequest {
    QString name;          // NAME of NAME.csv, NAME.bytes, NAME.json, NAME.html, NAME.xml
    QString operatorName;
    QString program;       // the front end, "quorvid" or "quorvid-monitor"
    QString referenceEquipment;  // what set the references, for the report
    QString bench = {};          // which bench runs it (benchName), for the report and the store
    QString ambient = {};        // the ambient conditions, for the certificate
};

// The bench a run names: given (--bench, the dialogs' Bench field) when not
// empty, else QUORVID_BENCH when set, else the machine's host name.
QString benchName(const QString& given);

// The session's setup for one board: the device behind its port as its
// serial control names it, the program and its version, the state to put
// back at the end. The clock is the system's.
SessionSetup sessionSetup(const RunRequest& run, const BoardLink& board);

// A result as a line: its verdict, the check's name when one is given, and
// what was found: "FAIL     static    ch1 300 mmHg: read 318.1, error +18.1 > limit 12.0".
QString resultLine(const Result& r, const QString& check = {});

// The verdict of a finished run in a few words: "PASS", "FAIL: 6 results
// failed", "FAIL: ended early, 1 result failed".
QString verdictSentence(const ReportInfo& report);

// The lines that close a run: the board, each check's verdict, each failed
// result, why it ended early, the verdict with its count of failed results,
// and where the report was written.
QStringList summaryLines(const Session& session);
// The same of a report, without where it was written; each marginal result
// has a line after the failed ones, and the verdict counts them.
QStringList reportSummaryLines(const ReportInfo& report);

// Writes a finished run's report and recording again under NAME (NAME.json,
// .html, .xml, .csv and .bytes; any of those endings on NAME is dropped). A
// file already there is replaced only by a complete new one. False with
// *error naming the file and the system's reason; true at once when NAME is
// where the run was written. A run whose report could not be written where
// it ran is saved all the same: its report from memory and whichever part of
// its recording can still be read; *notSaved then names the parts that could
// not be, with the reason (empty when all were).
bool saveRunAs(const Session& session, const QString& name, QString* error, QString* notSaved = nullptr);

}  // namespace quorvid::evaluate
