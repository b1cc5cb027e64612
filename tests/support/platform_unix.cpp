#include "platform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace quorvid::test {

QString noSuchFileText() { return QStringLiteral("No such file or directory"); }
QString noSuchFolderText() { return QStringLiteral("No such file or directory"); }

QString shellCommandWriting(const QStringList& lines, const QString& file)
{
    return QStringLiteral("printf '%1\\n' > '%2'").arg(lines.join(QStringLiteral("\\n")), file);
}

QByteArray shellLinesWritten(const QStringList& lines) { return (lines.join(u'\n') + u'\n').toUtf8(); }

QString shellCommandFailing(const QString& output, int status)
{
    return QStringLiteral("echo %1; exit %2").arg(output).arg(status);
}

struct DocumentsFolder::Restore {
    QTemporaryDir config;
    QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
};

DocumentsFolder::DocumentsFolder(const QString& wanted) : m_path(wanted), m_restore(std::make_unique<Restore>())
{
    QDir().mkpath(wanted);
    QFile dirs(m_restore->config.filePath(QStringLiteral("user-dirs.dirs")));
    if (dirs.open(QIODevice::WriteOnly)) dirs.write("XDG_DOCUMENTS_DIR=\"" + wanted.toUtf8() + "\"\n");
    qputenv("XDG_CONFIG_HOME", m_restore->config.path().toUtf8());
}

DocumentsFolder::~DocumentsFolder()
{
    if (m_restore->oldConfig.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
    else qputenv("XDG_CONFIG_HOME", m_restore->oldConfig);
}

}  // namespace quorvid::test
