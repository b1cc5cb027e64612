// libFuzzer target over the reader of evaluation reports, which the history
// and judging a run again take from anywhere: any input is read without a
// crash; a report accepted is written again as the program writes one and
// reads back the same; the pages of the report and of a history of it are
// made without a crash.
#include "history.h"
#include "report.h"
#include "storedreport.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace quorvid::evaluate;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (!doc.isObject()) return 0;
    const QJsonObject json = doc.object();
    (void)storedKind(json);
    QString why;
    const std::optional<StoredReport> read = readReportJson(json, QStringLiteral("r.json"), &why);
    if (!read) {
        FUZZ_CHECK(!why.isEmpty());
        return 0;
    }

    ReportInfo info = read->info;
    info.carried = read->json;
    const QJsonObject written = reportJson(info);
    const std::optional<StoredReport> again = readReportJson(written, QStringLiteral("r.json"), &why);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(reportJson(again->info) == reportJson(read->info));
    (void)reportHtml(info);
    (void)reportJUnit(info);

    HistoryRun run;
    run.boardId = read->info.boardId;
    run.startedUtc = info.startedUtc;
    run.checks = info.checks;
    History h;
    h.runs = {run, run};
    h.results = resultStatistics(h.runs);
    for (const ResultStats& s : h.results) FUZZ_CHECK(s.n == 2 * (s.n / 2));
    // The summary's JSON, written directly, is QJsonDocument's own form of it.
    const QByteArray text = historyJsonText(h);
    FUZZ_CHECK(QJsonDocument::fromJson(text).toJson(QJsonDocument::Indented) == text);
    (void)historyCsv(h);
    (void)historyHtml(h, QStringLiteral("."));
    return 0;
}
