// The certificate of a run: its report made into one document, and the one
// render call that paints it page by page on a printer or a PDF writer, so
// that print, preview and NAME.pdf show the same pages.
#pragma once

#include "report.h"

#include <QByteArray>
#include <QString>

#include <memory>

class QPagedPaintDevice;
class QTextDocument;

namespace quorvid::certificate {

// The document of a report, live or read back (an older one states no
// uncertainty). The plan's [certificate] names the issuer; issuer stands in
// where it names nobody (the window's settings).
std::unique_ptr<QTextDocument> certificateDocument(const evaluate::ReportInfo& report,
                                                   const evaluate::CertificateIssuer& issuer = {});

// Paints doc on device page by page, each page's foot naming the certificate
// number and "Page N of M".
void renderCertificate(const QTextDocument& doc, QPagedPaintDevice& device, const QString& number);

// The certificate as a PDF: A4, PDF/A-1b, its fonts embedded, its title and
// creator in its metadata.
QByteArray certificatePdf(const evaluate::ReportInfo& report, const evaluate::CertificateIssuer& issuer = {});

// PATH written whole or not at all; false with *error naming it and the
// system's reason.
bool writeCertificate(const evaluate::ReportInfo& report, const QString& path, QString* error,
                      const evaluate::CertificateIssuer& issuer = {});

// The SHA-256 of the plan as applied (its JSON, compact), in hex.
QString planSha256(const evaluate::Plan& plan);

}  // namespace quorvid::certificate
