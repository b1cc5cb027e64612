#include "stdinlines.h"

namespace quorvid::monitor {

void StdinLines::take(QByteArrayView bytes)
{
    if (m_stopped) return;
    // Commands are a few letters: a NUL is no one typing (`< /dev/zero`, a
    // binary file), and reading on would only spin.
    if (bytes.contains('\0')) {
        stop(QStringLiteral("standard input is not text (a NUL byte); it is no longer read"));
        return;
    }
    while (!bytes.isEmpty()) {
        const qsizetype newline = bytes.indexOf('\n');
        const QByteArrayView part = newline < 0 ? bytes : bytes.first(newline);
        if (!m_overlong && m_line.size() + part.size() > kMaxLineBytes) {
            m_overlong = true;
            m_line.clear();
            emit refused(QStringLiteral("a typed line longer than %1 bytes; not sent").arg(kMaxLineBytes));
        }
        if (!m_overlong) m_line.append(part);
        if (newline < 0) return;
        bytes = bytes.sliced(newline + 1);
        if (!m_overlong) {
            if (m_line.endsWith('\r')) m_line.chop(1);
            const QString text = QString::fromLocal8Bit(m_line);
            m_line.clear();
            emit lineRead(text);
            if (m_stopped) return;
        }
        m_overlong = false;
    }
}

}  // namespace quorvid::monitor
