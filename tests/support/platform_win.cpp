#include "platform.h"

#include <QStandardPaths>

#include <windows.h>

namespace quorvid::test {

namespace {

// The system's message for an error code, as Qt words a failed open.
QString systemMessage(DWORD code)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0,
                   nullptr);
    QString message = QString::fromWCharArray(text);
    LocalFree(text);
    return message.trimmed();
}

}  // namespace

QString noSuchFileText() { return systemMessage(ERROR_FILE_NOT_FOUND); }
QString noSuchFolderText() { return systemMessage(ERROR_PATH_NOT_FOUND); }

// The redirection first, so that no figure at a line's end reads as a handle
// number; cmd's echo ends each line with CR LF.
QString shellCommandWriting(const QStringList& lines, const QString& file)
{
    QStringList parts;
    for (const QString& line : lines)
        parts << QStringLiteral("%1\"%2\" echo %3").arg(parts.isEmpty() ? QStringLiteral(">") : QStringLiteral(">>"), file, line);
    return parts.join(u'&');
}

QByteArray shellLinesWritten(const QStringList& lines) { return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8(); }

QString shellCommandFailing(const QString& output, int status)
{
    return QStringLiteral("echo %1&exit %2").arg(output).arg(status);
}

struct DocumentsFolder::Restore {};

DocumentsFolder::DocumentsFolder(const QString&)
    : m_path(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
{
}

DocumentsFolder::~DocumentsFolder() = default;

}  // namespace quorvid::test
