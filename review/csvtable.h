// Reading the recording's CSV back: RFC 4180 records (a quoted field may hold
// commas, doubled quotes and line ends) with the exact text of each, and the
// range of times the command line writes in seconds.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace quorvid::review {

struct CsvRecord {
    std::int64_t line = 0;  // where it begins, counted from 1
    QByteArrayView text;    // the record as written, without its line end
    QList<QByteArray> fields;
};

class CsvRecords {
public:
    // text is the whole file when final, else a piece of it that goes on:
    // then a record that does not end inside it is left for the next piece.
    explicit CsvRecords(QByteArrayView text, bool final = true, std::int64_t firstLine = 1);
    // The next record; false at the end, or on a quote left open (error() says
    // so, naming the line).
    bool next(CsvRecord& record);
    QString error() const { return m_error; }
    // How much of the text the records so far took, and the line after them.
    qsizetype consumed() const { return m_at; }
    std::int64_t line() const { return m_line; }

private:
    QByteArrayView m_text;
    bool m_final = true;
    qsizetype m_at = 0;
    std::int64_t m_line = 1;
    QString m_error;
};

// Reads a CSV file's records a piece at a time, so that a long recording's rows
// are never all held at once; stops early when take returns false. The error
// names the line or the system's reason.
bool readCsvRecords(QIODevice& device, const std::function<bool(const CsvRecord&)>& take, QString* error);

// "FROM:TO" in seconds as record::parseSeconds reads them, FROM not after TO.
struct TimeRange {
    std::int64_t from = 0;  // microseconds, both ends included
    std::int64_t to = 0;
    bool contains(std::int64_t t) const { return t >= from && t <= to; }
};
std::optional<TimeRange> parseRange(const QString& text);

}  // namespace quorvid::review
