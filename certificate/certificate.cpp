#include "certificate.h"

#include "uncertainty.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QCryptographicHash>
#include <QFontMetricsF>
#include <QJsonDocument>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QDir>
#include <QTextDocument>

namespace quorvid::certificate {

using namespace evaluate;

namespace {

QString esc(const QString& text) { return htmlEscaped(text); }

QString fixed(const std::optional<double>& v, int decimals = 2, bool sign = false)
{
    if (!v) return QStringLiteral("–");
    return (sign && *v >= 0 ? QStringLiteral("+") : QString()) + QString::number(*v, 'f', decimals);
}

QString orNotGiven(const QString& text) { return text.trimmed().isEmpty() ? QStringLiteral("not given") : esc(text); }

QString statementText(const Result& r)
{
    if (r.statement) return statementName(*r.statement);
    return verdictName(r.verdict);  // a report from before statements
}

QString ruleWords(const Plan& plan)
{
    const QString g = QString::number(plan.guard());
    switch (plan.rule()) {
    case DecisionRule::Simple:
        return QStringLiteral("Simple acceptance: a result passes when its |error| is within its limit T, and fails "
                              "otherwise; its expanded uncertainty U is stated beside it and not subtracted from the limit.");
    case DecisionRule::Guarded:
        return QStringLiteral("Guarded acceptance: a result passes only when its |error| is within T − w, where the guard "
                              "band w = %1 × U, and fails otherwise; with w = U the probability of a false pass is held "
                              "under about 2.3 %.").arg(g);
    case DecisionRule::GuardedNonbinary:
        return QStringLiteral("Guarded acceptance with conditional statements, w = %1 × U: pass when |error| ≤ T − w; "
                              "conditional pass when |error| ≤ T; conditional fail when |error| ≤ T + w; fail beyond. "
                              "A conditional pass counts as a pass, a conditional fail as a fail.").arg(g);
    }
    return {};
}

QString referenceHtml(const ReportInfo& r)
{
    const std::optional<ReferenceAccuracy>& ref = r.plan.reference;
    QString h = QStringLiteral("<h3>Reference equipment</h3><table cellpadding=\"2\">");
    auto row = [&h](const QString& k, const QString& v) { h += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>").arg(k, v); };
    if (!ref) {
        row(QStringLiteral("Equipment"), orNotGiven(r.referenceEquipment));
        row(QStringLiteral("Accuracy"), QStringLiteral("not stated: the results' uncertainties are not stated"));
        row(QStringLiteral("Traceability"), QStringLiteral("not stated"));
        return h + QStringLiteral("</table>");
    }
    row(QStringLiteral("Equipment"), orNotGiven(ref->id.isEmpty() ? r.referenceEquipment : ref->id));
    row(QStringLiteral("Calibration certificate"), orNotGiven(ref->certificate));
    row(QStringLiteral("Calibration due"), orNotGiven(ref->due));
    row(QStringLiteral("Accuracy"), esc(QStringLiteral("±(%1 mmHg + %2 % of the setting), %3")
                                            .arg(ref->accuracyMmHg).arg(ref->accuracyPercent)
                                            .arg(ref->normal() ? QStringLiteral("an expanded uncertainty at k = %1").arg(ref->k)
                                                               : QStringLiteral("a rectangular bound"))));
    row(QStringLiteral("Traceability"),
        ref->certificate.isEmpty()
            ? QStringLiteral("not stated")
            : esc(QStringLiteral("The reference's values are traceable to national measurement standards through its "
                                 "calibration certificate %1.").arg(ref->certificate)));
    return h + QStringLiteral("</table>");
}

QString checkHtml(const CheckOutcome& o)
{
    QString h = QStringLiteral("<h3>%1 (%2): %3</h3>\n<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">"
                               "<tr><th>Ch</th><th>Quantity</th><th>Reference</th><th>Reading</th><th>Error</th><th>Limit</th>"
                               "<th>U</th><th>k</th><th>Statement</th></tr>\n")
                    .arg(esc(o.name), kindName(o.kind), verdictName(o.verdict));
    for (const Result& r : o.results) {
        const QString unit = r.unit.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(esc(r.unit));
        h += QStringLiteral("<tr><td>%1</td><td>%2</td><td align=\"right\">%3</td><td align=\"right\">%4</td><td align=\"right\">%5</td>"
                            "<td align=\"right\">%6</td><td align=\"right\">%7</td><td align=\"right\">%8</td><td>%9</td></tr>\n")
                 .arg(r.channel ? QString::number(r.channel) : QStringLiteral("–"), esc(r.quantity) + unit, fixed(r.reference, 1),
                      fixed(r.mean), fixed(r.error, 2, true), fixed(r.limit),
                      r.uncertainty ? fixed(r.uncertainty->U) : QStringLiteral("not stated"),
                      r.uncertainty ? fixed(r.uncertainty->k) : QStringLiteral("–"), statementText(r));
    }
    return h + QStringLiteral("</table>\n");
}

}  // namespace

QString planSha256(const Plan& plan)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QJsonDocument(planJson(plan)).toJson(QJsonDocument::Compact), QCryptographicHash::Sha256).toHex());
}

std::unique_ptr<QTextDocument> certificateDocument(const ReportInfo& r, const CertificateIssuer& fallback)
{
    const CertificateIssuer issuer = r.plan.certificate && !r.plan.certificate->organisation.isEmpty() ? *r.plan.certificate : fallback;
    QString h = QStringLiteral("<html><body>");
    h += QStringLiteral("<p><b>%1</b><br>%2</p>")
             .arg(orNotGiven(issuer.organisation), esc(issuer.address).replace(u'\n', QStringLiteral("<br>")));
    h += QStringLiteral("<h1>Certificate of Evaluation</h1><p>Certificate number: <b>%1</b></p>").arg(esc(r.runId));
    h += QStringLiteral("<h3>Item evaluated</h3><table cellpadding=\"2\">");
    auto row = [&h](const char* k, const QString& v) { h += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>").arg(QLatin1String(k), v); };
    row("Board ID", orNotGiven(r.boardId));
    row("Identification", orNotGiven(r.identification));
    row("Port", orNotGiven(r.device.isEmpty() || r.device == r.port ? r.port : QStringLiteral("%1 (%2)").arg(r.port, r.device)));
    row("Evaluated (UTC)", esc(r.startedUtc + (r.endedUtc.isEmpty() ? QString() : QStringLiteral(" to ") + r.endedUtc)));
    h += QStringLiteral("</table>");
    h += referenceHtml(r);
    h += QStringLiteral("<h3>Conditions and method</h3><table cellpadding=\"2\">");
    row("Ambient conditions", r.ambient.isEmpty() ? QStringLiteral("not given") : esc(r.ambient));
    row("Plan", esc(r.plan.name));
    row("Plan SHA-256", planSha256(r.plan));
    row("Software", esc(QStringLiteral("Quorvid %1").arg(r.version)));
    row("Recording SHA-256", orNotGiven(r.bytesSha256));
    if (!r.rescoredFrom.isEmpty()) row("Judged again from", esc(r.rescoredFrom));
    h += QStringLiteral("</table>");
    h += QStringLiteral("<h3>Decision rule</h3><p>%1</p>").arg(esc(ruleWords(r.plan)));
    h += QStringLiteral("<h2>Results</h2><p>Overall: <b>%1</b>%2</p>")
             .arg(r.verdict == Verdict::Pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
                  r.aborted.isEmpty() ? QString() : esc(QStringLiteral(" (ended early: %1)").arg(r.aborted)));
    for (const CheckOutcome& o : r.checks) h += checkHtml(o);
    h += QStringLiteral("<p>U is the expanded uncertainty at the coverage factor k, for a coverage probability of about "
                        "95 %.</p>");
    h += QStringLiteral("<p>The results relate only to the item evaluated.<br>Not to be reproduced except in full.</p>");
    h += QStringLiteral("<p>Operator: %1</p>").arg(orNotGiven(r.operatorName));
    h += QStringLiteral("<p>Authorised by (name): ______________________________ Role: ____________________<br><br>"
                        "Signature: ______________________________ Date: ____________________</p>");
    h += QStringLiteral("<p align=\"center\"><b>End of certificate</b></p></body></html>");

    auto doc = std::make_unique<QTextDocument>();
    // Latin text needs no shaping: without it no ligature hides a letter
    // from whoever copies the text out of the PDF.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setPointSizeF(9);
    doc->setDefaultFont(font);
    doc->setHtml(h);
    return doc;
}

void renderCertificate(const QTextDocument& source, QPagedPaintDevice& device, const QString& number)
{
    std::unique_ptr<QTextDocument> doc(source.clone());
    doc->documentLayout()->setPaintDevice(&device);
    const QRectF paper = device.pageLayout().paintRectPixels(device.logicalDpiX());
    QFont small = doc->defaultFont();
    small.setPointSizeF(7.5);
    const double foot = QFontMetricsF(small, &device).height() * 2;
    const QSizeF body(paper.width(), paper.height() - foot);
    doc->setPageSize(body);
    const int pages = doc->pageCount();
    QPainter p(&device);
    for (int i = 0; i < pages; ++i) {
        if (i > 0) device.newPage();
        p.save();
        p.translate(0, -i * body.height());
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = QRectF(0, i * body.height(), body.width(), body.height());
        context.palette.setColor(QPalette::Text, Qt::black);
        // Nothing of the next page's rows in this one's foot.
        p.setClipRect(context.clip);
        doc->documentLayout()->draw(&p, context);
        p.restore();
        p.setFont(small);
        const QRectF at(0, body.height(), body.width(), foot);
        p.drawText(at, Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("Certificate %1").arg(number));
        p.drawText(at, Qt::AlignRight | Qt::AlignBottom, QStringLiteral("Page %1 of %2").arg(i + 1).arg(pages));
    }
}

QByteArray certificatePdf(const ReportInfo& report, const CertificateIssuer& issuer)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(18, 15, 18, 12), QPageLayout::Millimeter);
        pdf.setResolution(300);
        pdf.setTitle(QStringLiteral("Certificate of Evaluation %1").arg(report.runId));
        pdf.setCreator(QStringLiteral("Quorvid %1").arg(report.version));
        renderCertificate(*certificateDocument(report, issuer), pdf, report.runId);
    }
    return bytes;
}

bool writeCertificate(const ReportInfo& report, const QString& path, QString* error, const CertificateIssuer& issuer)
{
    return writeAllOrNone({{path, certificatePdf(report, issuer)}}, error);
}

}  // namespace quorvid::certificate
