// The report of an evaluation: NAME.json for programs, NAME.html for people
// (one self-contained file, plots as inline SVG, prints on A4) and NAME.xml as
// JUnit for production lines and CI dashboards. Every text from outside (the
// board's identification, the operator, the plan, file names) is escaped.
#pragma once

#include "evaluation.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QXmlStreamWriter>

#include <initializer_list>
#include <utility>
#include <vector>

namespace quorvid::evaluate {

struct ReportInfo {
    // The run's own ID, made when it starts (a UUID without braces); a run
    // judged again gets one of its own. A report written before runs had IDs
    // is given one derived from its content when read (storedreport.h).
    QString runId;
    QString startedUtc;  // "2026-12-07T14:02:03.123Z"
    QString endedUtc;    // when the report was written; empty in reports older than it
    QString version;     // Quorvid's
    QString operatorName;
    QString boardId;  // as given, or the port standing in for it
    QString port, device;
    QString identification;
    Plan plan;
    QString csvPath, bytesPath, bytesSha256;
    Verdict verdict = Verdict::Fail;
    QString aborted;  // why the run ended early; empty when it did not
    std::vector<CheckOutcome> checks;
    QString referenceEquipment;  // what set the references: the calibrator, its serial number, its due date
    QString bench;               // the bench that ran it (benchName); empty in reports older than it
    QString rescoredFrom;        // the report this one judges again, as it was named; empty for a run
    QString ambient;             // the ambient conditions as given, for the certificate; empty when not
    // Fields of an earlier report that this one does not write itself, kept
    // as they were when a run is judged again.
    QJsonObject carried;
};

QJsonObject reportJson(const ReportInfo& info);
QString reportHtml(const ReportInfo& info);
QByteArray reportJUnit(const ReportInfo& info);

// NAME.json, NAME.html and NAME.xml; false with *error naming the file and
// the system's reason.
bool writeReport(const ReportInfo& info, const QString& name, QString* error);
// Files written whole, all of them or none: each is written aside, and none
// takes its name before all have been written. False with *error naming the
// file and the system's reason.
bool writeAllOrNone(const std::vector<std::pair<QString, QByteArray>>& files, QString* error);

// Text from outside as HTML text or attribute value, and as text XML can
// carry (characters it cannot become U+FFFD); for the station's and the
// history's pages too.
QString htmlEscaped(const QString& text);
QString xmlCarried(const QString& text);

// The plots of the kinds that have one, as inline SVG; their descriptions name them.
QString staticPlot(const CheckOutcome& outcome);
QString speedPlot(const CheckOutcome& outcome);
QString dynamicPlot(const CheckOutcome& outcome);
QString frequencyPlot(const CheckOutcome& outcome);
// Per channel, the interference applied and what the filter left of it at each frequency.
QString mainsPlot(const CheckOutcome& outcome);

// A line plot as inline SVG, in the report's style: a series per label, each
// its points in order of x.
struct PlotLine {
    QString label;
    std::vector<std::pair<double, double>> points;
};
QString linePlot(const QString& xLabel, const QString& yLabel, const std::vector<PlotLine>& lines);

// The words of a result's verdict: "PASS", "FAIL", "SKIPPED", or "MARGINAL"
// for a pass close to its limit.
QString verdictWords(const Result& r);

// Counts over a run's outcomes: its results, those failed, those skipped, and
// those passed close to their limits.
int resultCount(const std::vector<CheckOutcome>& checks);
int failedResults(const std::vector<CheckOutcome>& checks);
int failedResults(const CheckOutcome& outcome);
int skippedResults(const CheckOutcome& outcome);
int marginalResults(const std::vector<CheckOutcome>& checks);
int marginalResults(const CheckOutcome& outcome);

// JUnit's pieces for a run's files and a station's: a <properties> element of
// NAME = VALUE pairs, and one result as a <testcase> of CLASSNAME, named by
// what it measured, with its failure or the reason it was skipped.
void writeJUnitProperties(QXmlStreamWriter& x, std::initializer_list<std::pair<const char*, QString>> properties);
void writeJUnitCase(QXmlStreamWriter& x, const QString& classname, const Result& r);

}  // namespace quorvid::evaluate
