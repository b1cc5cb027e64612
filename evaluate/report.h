// The report of an evaluation: NAME.json for programs, NAME.html for people
// (one self-contained file, plots as inline SVG, prints on A4) and NAME.xml as
// JUnit for production lines and CI dashboards. Every text from outside (the
// board's identification, the operator, the plan, file names) is escaped.
#pragma once

#include "evaluation.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <vector>

namespace quorvid::evaluate {

struct ReportInfo {
    QString startedUtc;  // "2026-12-07T14:02:03.123Z"
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
};

QJsonObject reportJson(const ReportInfo& info);
QString reportHtml(const ReportInfo& info);
QByteArray reportJUnit(const ReportInfo& info);

// NAME.json, NAME.html and NAME.xml; false with *error naming the file and
// the system's reason.
bool writeReport(const ReportInfo& info, const QString& name, QString* error);

// Text from outside as HTML text or attribute value, and as text XML can
// carry (characters it cannot become U+FFFD); for the station's pages too.
QString htmlEscaped(const QString& text);
QString xmlCarried(const QString& text);

// The plots of the kinds that have one, as inline SVG; their descriptions name them.
QString staticPlot(const CheckOutcome& outcome);
QString speedPlot(const CheckOutcome& outcome);
QString dynamicPlot(const CheckOutcome& outcome);

}  // namespace quorvid::evaluate
