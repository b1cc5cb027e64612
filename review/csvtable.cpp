#include "csvtable.h"

#include "csvrows.h"

namespace quorvid::review {

CsvRecords::CsvRecords(QByteArrayView text, bool final, std::int64_t firstLine)
    : m_text(text)
    , m_final(final)
    , m_line(firstLine)
{
}

bool CsvRecords::next(CsvRecord& record)
{
    if (m_at >= m_text.size() || !m_error.isEmpty()) return false;
    const std::int64_t startLine = m_line;
    record.line = m_line;
    record.fields.clear();
    const qsizetype begin = m_at;
    QByteArray field;
    bool quoted = false;
    qsizetype i = m_at;
    qsizetype end = -1;  // the record's end, before its line end
    for (; i < m_text.size(); ++i) {
        const char c = m_text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < m_text.size() && m_text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == '\n') ++m_line;
                field += c;
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.fields.append(field);
            field.clear();
        } else if (c == '\n') {
            end = i;
            break;
        } else if (c != '\r' || i + 1 >= m_text.size() || m_text[i + 1] != '\n') {
            field += c;
        }
    }
    if (end < 0 && !m_final) {
        m_line = startLine;  // the record goes on in the next piece
        return false;
    }
    if (quoted) {
        m_error = QStringLiteral("line %1: a quoted field is not closed").arg(record.line);
        return false;
    }
    if (end < 0) end = i;
    m_at = end + 1;
    ++m_line;
    qsizetype textEnd = end;
    if (textEnd > begin && m_text[textEnd - 1] == '\r') --textEnd;
    record.text = m_text.sliced(begin, textEnd - begin);
    record.fields.append(field);
    return true;
}

bool readCsvRecords(QIODevice& device, const std::function<bool(const CsvRecord&)>& take, QString* error)
{
    constexpr qint64 kPieceBytes = 1 << 20;
    QByteArray piece;
    std::int64_t line = 1;
    CsvRecord record;
    for (;;) {
        const QByteArray more = device.read(kPieceBytes);
        if (more.isEmpty() && !device.atEnd()) {
            if (error) *error = device.errorString();
            return false;
        }
        const bool final = more.isEmpty();
        piece += more;
        CsvRecords records(piece, final, line);
        while (records.next(record))
            if (!take(record)) return true;
        if (!records.error().isEmpty()) {
            if (error) *error = records.error();
            return false;
        }
        if (final) return true;
        if (records.consumed() == 0 && piece.size() > 16 * kPieceBytes) {
            if (error) *error = QStringLiteral("line %1: a row longer than 16 MiB").arg(line);
            return false;
        }
        line = records.line();
        piece.remove(0, records.consumed());
    }
}

std::optional<TimeRange> parseRange(const QString& text)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon < 0) return std::nullopt;
    const QByteArray from = text.left(colon).trimmed().toLatin1();
    const QByteArray to = text.mid(colon + 1).trimmed().toLatin1();
    const auto a = record::parseSeconds(from);
    const auto b = record::parseSeconds(to);
    if (!a || !b || *a > *b) return std::nullopt;
    return TimeRange{*a, *b};
}

}  // namespace quorvid::review
