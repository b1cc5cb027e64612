#include "rangeexport.h"

#include "csvrows.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace quorvid::review {

namespace {

QByteArray header()
{
    return QByteArray(record::kCsvHeader.data(), qsizetype(record::kCsvHeader.size())) + '\n';
}

std::optional<QByteArray> fromRows(const QString& csvPath, TimeRange range, QString* error)
{
    QFile file(csvPath);
    const QString name = QDir::toNativeSeparators(csvPath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("%1: %2").arg(name, file.errorString());
        return std::nullopt;
    }
    QByteArray out = header();
    QString why;
    auto take = [&](const CsvRecord& row) {
        if (row.line == 1 || row.fields.size() <= record::SecondsColumn) return true;  // the header, an empty line
        const auto at = record::parseSeconds(row.fields[record::SecondsColumn]);
        if (!at) {
            why = QStringLiteral("line %1: t_s is not a time in seconds").arg(row.line);
            return false;
        }
        if (*at > range.to) return false;  // t_s never decreases
        if (range.contains(*at)) out.append(row.text.data(), row.text.size()).append('\n');
        return true;
    };
    QString readError;
    if (!readCsvRecords(file, take, &readError) || !why.isEmpty()) {
        if (error) *error = QStringLiteral("%1: %2").arg(name, why.isEmpty() ? readError : why);
        return std::nullopt;
    }
    return out;
}

std::optional<QByteArray> fromFrames(const Recording& recording, TimeRange range, QString* error)
{
    const std::int64_t startUtc = recording.started.isValid() ? recording.started.toMSecsSinceEpoch() : 0;
    QByteArray out = header();
    RecordingBuilder builder;
    builder.setFrameHook([&](const DecodedFrame& frame, std::int64_t microseconds) {
        // The row's t_s is cut to the millisecond; the range is taken on it.
        if (!range.contains(microseconds / 1000 * 1000)) return;
        const auto row = record::csvRow(frame, {startUtc + microseconds / 1000, microseconds});
        if (row) out.append(row->data(), qsizetype(row->size())).append('\n');
    });
    if (!readBytesInto(recording.path, builder, error)) return std::nullopt;
    return out;
}

}  // namespace

std::optional<QByteArray> csvRange(const Recording& recording, TimeRange range, QString* error)
{
    if (!recording.csvPath.isEmpty()) return fromRows(recording.csvPath, range, error);
    return fromFrames(recording, range, error);
}

bool exportCsvRange(const Recording& recording, TimeRange range, const QString& outPath, QString* error)
{
    const auto rows = csvRange(recording, range, error);
    if (!rows) return false;
    QSaveFile file(outPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(*rows) != rows->size() || !file.commit()) {
        if (error) *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(outPath), file.errorString());
        return false;
    }
    return true;
}

}  // namespace quorvid::review
