// The certificate as poppler reads it: its metadata, its fonts embedded, and
// each figure of its tables what its report's JSON says, for a report with
// stated uncertainties and for one from before them.
#include "certificate.h"
#include "measure.h"
#include "storedreport.h"
#include "uncertainty.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>

#include <gtest/gtest.h>

using namespace quorvid::evaluate;

namespace {

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(30000)) << program.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << ": " << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString fixed(const QJsonValue& v, int decimals = 2, bool sign = false)
{
    if (!v.isDouble()) return QStringLiteral("–");
    return (sign && v.toDouble() >= 0 ? QStringLiteral("+") : QString()) + QString::number(v.toDouble(), 'f', decimals);
}

// A static check of three points on both channels, the last one skipped.
ReportInfo report(bool stated)
{
    ReportInfo info;
    info.runId = QStringLiteral("0f6c1d2e-3a4b-5c6d-7e8f-9a0b1c2d3e4f");
    info.startedUtc = QStringLiteral("2026-12-08T09:00:00.000Z");
    info.version = QStringLiteral("1.0.1");
    info.operatorName = QStringLiteral("A. Tester");
    info.boardId = QStringLiteral("SN-0042");
    info.port = QStringLiteral("COM3");
    info.identification = QStringLiteral("IBP board v2");
    info.bytesSha256 = QString(64, u'a');
    const PlanResult plan = parsePlan(std::string(stated ? "[plan]\ndecision_rule = \"guarded-nonbinary\"\n[reference]\naccuracy_mmHg = 1\n"
                                                           "id = \"PC-7\"\ncertificate = \"CAL-1234\"\ndue = \"2027-06-01\"\n"
                                                           "[certificate]\norganisation = \"Bench Lab\"\naddress = \"1 Test Street\"\n"
                                                         : "")
                                          + "[[check]]\nkind = \"static\"\npoints = [0, 100, 200]\n",
                                      QStringLiteral("c.toml"));
    EXPECT_TRUE(plan.plan) << plan.error.toStdString();
    info.plan = *plan.plan;
    CheckOutcome o{QStringLiteral("static"), CheckKind::Static, Verdict::Pass, {}, {}};
    for (int ch = 1; ch <= 2; ++ch)
        for (double ref : {0.0, 100.0}) {
            Result r;
            r.channel = ch, r.quantity = QStringLiteral("pressure"), r.unit = QStringLiteral("mmHg");
            r.reference = ref, r.limit = 4, r.n = 500, r.sd = 0.37;
            r.error = ch == 1 ? 0.123 + ref / 33 : -0.456;
            r.mean = ref + *r.error;
            r.repeatability = *r.sd / std::sqrt(500.0), r.repeatabilityDof = 499;
            judgeResult(r, info.plan, info.plan.checks[0]);
            o.results.push_back(r);
        }
    Result skipped;
    skipped.quantity = QStringLiteral("static 200"), skipped.verdict = Verdict::Skipped;
    o.results.push_back(skipped);
    o.verdict = checkVerdict(o.results);
    info.checks = {o};
    info.verdict = o.verdict;
    return info;
}

}  // namespace

TEST(Certificate, PopplerReadsItsMetadataFontsAndTheReportsFigures)
{
    for (const bool stated : {true, false}) {
        SCOPED_TRACE(stated ? "uncertainties stated" : "a report from before them");
        QTemporaryDir dir;
        // As --certificate reads it: the report's JSON, read back.
        const QJsonObject json = reportJson(report(stated));
        QString why;
        const std::optional<StoredReport> back = readReportJson(json, QStringLiteral("r.json"), &why);
        ASSERT_TRUE(back) << why.toStdString();
        const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
        ASSERT_TRUE(quorvid::certificate::writeCertificate(back->info, pdf, &why)) << why.toStdString();

        const QString info = run(QStringLiteral("pdfinfo"), {pdf});
        EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Title:\\s+Certificate of Evaluation 0f6c1d2e-")))) << info.toStdString();
        EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Creator:\\s+Quorvid 1.0.1")))) << info.toStdString();
        EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Page size:\\s+595(\\.\\d+)? x 84[12](\\.\\d+)? pts \\(A4\\)")))) << info.toStdString();
        const QStringList fonts = run(QStringLiteral("pdffonts"), {pdf}).split(u'\n', Qt::SkipEmptyParts).mid(2);
        ASSERT_FALSE(fonts.isEmpty());
        for (const QString& font : fonts)  // name, type, encoding, emb, sub, uni, object ID
            EXPECT_TRUE(font.contains(QRegularExpression(QStringLiteral("\\s+yes\\s+(yes|no)\\s+(yes|no)\\s+\\d+\\s+\\d+$")))) << font.toStdString();

        const QString text = run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        const int pages = info.section(QStringLiteral("Pages:"), 1).section(u'\n', 0, 0).trimmed().toInt();
        ASSERT_GE(pages, 1);
        for (int page = 1; page <= pages; ++page)
            EXPECT_TRUE(text.contains(QStringLiteral("Page %1 of %2").arg(page).arg(pages))) << page;
        for (const char* line : {"Certificate of Evaluation", "Certificate number: 0f6c1d2e-3a4b-5c6d-7e8f-9a0b1c2d3e4f", "End of certificate",
                                 "The results relate only to the item evaluated.", "Not to be reproduced except in full.", "SN-0042",
                                 "Operator: A. Tester"})
            EXPECT_TRUE(text.contains(QLatin1String(line))) << line;
        EXPECT_EQ(text.contains(u"CAL-1234"), stated);
        // Each result's row: its figures as the JSON has them, in order.
        int rows = 0;
        for (const QJsonValue v : json[u"checks"][0][u"results"].toArray()) {
            const QJsonObject r = v.toObject();
            const QJsonValue u = r[u"uncertainty"];
            QStringList cells{fixed(r[u"reference"], 1), fixed(r[u"mean"]), fixed(r[u"error"], 2, true), fixed(r[u"limit"]),
                              u.isObject() ? fixed(u[u"U"]) : QStringLiteral("not stated"), u.isObject() ? fixed(u[u"k"]) : QStringLiteral("–"),
                              r[u"statement"].isString() ? r[u"statement"].toString() : r[u"verdict"].toString()};
            for (QString& c : cells) c = QRegularExpression::escape(c);
            const QRegularExpression row(cells.join(QStringLiteral("\\s+")));
            EXPECT_TRUE(text.contains(row)) << row.pattern().toStdString() << "\n" << text.toStdString();
            ++rows;
        }
        EXPECT_EQ(rows, 5);
    }
}
