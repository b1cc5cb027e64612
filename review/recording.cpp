#include "recording.h"

#include "bytesreader.h"
#include "csvrows.h"
#include "csvtable.h"
#include "notes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace quorvid::review {

namespace {

std::int16_t narrow(int v) { return static_cast<std::int16_t>(std::clamp(v, -32768, 32767)); }

std::optional<Recording> readBytes(const QString& path, QString* error)
{
    RecordingBuilder builder;
    if (!readBytesInto(path, builder, error)) return std::nullopt;
    builder.recording().trace.spreadBlocks();
    return std::move(builder.recording());
}

std::optional<Recording> readCsv(const QString& path, QString* error)
{
    const QString name = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("%1: %2").arg(name, file.errorString());
        return std::nullopt;
    }
    if (file.size() > record::kMaxRecordingBytes) {
        if (error) *error = QStringLiteral("%1: %2").arg(name, record::tooLargeText());
        return std::nullopt;
    }
    Recording r;
    QString why;
    std::int64_t previous = 0;
    bool sawHeader = false;
    constexpr qsizetype kColumns = record::kCsvColumnCount;
    const QByteArrayView header(record::kCsvHeader.data(), qsizetype(record::kCsvHeader.size()));
    auto take = [&](const CsvRecord& row) {
        auto fail = [&](const QString& what) {
            why = QStringLiteral("line %1: %2").arg(row.line).arg(what);
            return false;
        };
        if (row.line == 1) {
            sawHeader = row.text == header;
            return sawHeader || fail(QStringLiteral("not the header of a recording's rows"));
        }
        if (row.text.isEmpty()) return true;
        if (row.fields.size() != kColumns)
            return fail(QStringLiteral("%1 fields where a row has %2").arg(row.fields.size()).arg(kColumns));
        const QByteArray& seconds = row.fields[record::SecondsColumn];
        const auto at = record::parseSeconds(seconds);
        if (!at) return fail(QStringLiteral("t_s '%1' is not a time in seconds").arg(QString::fromUtf8(seconds)));
        if (*at < previous)
            return fail(QStringLiteral("t_s %1 is before the previous row's").arg(QString::fromUtf8(seconds)));
        previous = *at;
        if (!r.started.isValid()) {
            // The rows carry the start as the time of day less the time since it.
            if (const auto utc = record::parseIsoUtc(row.fields[record::TimeUtcColumn]))
                r.started = QDateTime::fromMSecsSinceEpoch(*utc - *at / 1000, Qt::UTC);
        }
        bool allOk = true;
        auto number = [&](record::CsvColumn column) {
            bool ok = false;
            const int v = row.fields[column].toInt(&ok);
            allOk = allOk && ok;
            return v;
        };
        using namespace record;
        const QByteArray& kind = row.fields[KindColumn];
        auto is = [&kind](FrameKind k) { return std::string_view(kind.constData(), std::size_t(kind.size())) == kindName(k); };
        if (is(FrameKind::Waveform)) {
            const int ch1 = number(Ch1Column), ch2 = number(Ch2Column);
            if (allOk) {
                r.trace.microseconds.push_back(*at);
                r.trace.ch1.push_back(narrow(ch1));
                r.trace.ch2.push_back(narrow(ch2));
            }
        } else if (is(FrameKind::Values)) {
            Values v;
            v.sys1 = narrow(number(Sys1Column)), v.map1 = narrow(number(Map1Column)), v.dia1 = narrow(number(Dia1Column));
            v.sys2 = narrow(number(Sys2Column)), v.map2 = narrow(number(Map2Column)), v.dia2 = narrow(number(Dia2Column));
            v.pulse = narrow(number(PulseColumn));
            if (allOk) r.beats.push_back({*at, v});
        } else if (is(FrameKind::Status)) {
            const int s1 = number(Status1Column), s2 = number(Status2Column);
            if (allOk) r.statuses.push_back({*at, StatusCodes{Byte(s1 & 0x7F), Byte(s2 & 0x7F)}});
        } else if (is(FrameKind::Identification)) {
            const QByteArray& field = row.fields[TextColumn];
            const std::string text = textFromCsv(std::string_view(field.constData(), std::size_t(field.size())));
            r.identifications.push_back({*at, QString::fromStdString(text)});
        } else {
            return fail(QStringLiteral("unknown kind '%1'").arg(QString::fromUtf8(kind)));
        }
        if (!allOk) return fail(QStringLiteral("a %1 row with a field that is not a number").arg(QString::fromUtf8(kind)));
        r.lastMicroseconds = *at;
        return true;
    };
    QString readError;
    if (readCsvRecords(file, take, &readError) && why.isEmpty() && !sawHeader)
        why = QStringLiteral("line 1: not the header of a recording's rows");
    if (!readError.isEmpty() || !why.isEmpty()) {
        if (error) *error = QStringLiteral("%1: %2").arg(name, why.isEmpty() ? readError : why);
        return std::nullopt;
    }
    r.trace.spreadBlocks();
    return r;
}

}  // namespace

std::size_t Trace::lowerIndex(std::int64_t t) const
{
    return std::size_t(std::lower_bound(microseconds.begin(), microseconds.end(), t) - microseconds.begin());
}

std::size_t Trace::upperIndex(std::int64_t t) const
{
    return std::size_t(std::upper_bound(microseconds.begin(), microseconds.end(), t) - microseconds.begin());
}

std::size_t Trace::lowerDrawnIndex(std::int64_t t) const
{
    return std::size_t(std::lower_bound(drawnAt.begin(), drawnAt.end(), t) - drawnAt.begin());
}

std::size_t Trace::upperDrawnIndex(std::int64_t t) const
{
    return std::size_t(std::upper_bound(drawnAt.begin(), drawnAt.end(), t) - drawnAt.begin());
}

void Trace::spreadBlocks()
{
    drawnAt.resize(microseconds.size());
    std::int64_t previous = 0;
    for (std::size_t begin = 0; begin < microseconds.size();) {
        const std::int64_t t = microseconds[begin];
        std::size_t end = begin;
        while (end < microseconds.size() && microseconds[end] == t) ++end;
        const auto n = static_cast<std::int64_t>(end - begin);
        const std::int64_t spacing = std::min(kMaxDrawnSpacing, (t - previous) / std::max<std::int64_t>(1, n));
        for (std::size_t i = begin; i < end; ++i) drawnAt[i] = t - static_cast<std::int64_t>(end - 1 - i) * spacing;
        previous = t;
        begin = end;
    }
}

QString Recording::notes() const
{
    QStringList parts;
    parts << QStringLiteral("port %1").arg(port.isEmpty() ? QStringLiteral("not noted") : port);
    if (!program.isEmpty()) parts << QStringLiteral("program %1").arg(program);
    if (started.isValid())
        parts << QStringLiteral("started %1 UTC").arg(started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    return parts.join(QLatin1String(", "));
}

RecordingBuilder::RecordingBuilder()
{
    m_framer.setFrameObserver(this);
}

RecordingBuilder::~RecordingBuilder() = default;

void RecordingBuilder::takeComment(const QString& comment)
{
    m_recording.comments.append(comment);
    if (!m_start.take(comment)) return;
    m_recording.started = m_start.started;
    m_recording.port = m_start.portText();
    m_recording.program = m_start.where.program;
}

void RecordingBuilder::takeBlock(std::int64_t microseconds, Bytes block)
{
    m_blockTime = microseconds;
    m_recording.lastMicroseconds = std::max(m_recording.lastMicroseconds, microseconds);
    m_framer.feed(block);
}

void RecordingBuilder::blockReceived(Bytes) {}
void RecordingBuilder::bytesOutsideFrames(std::size_t) {}

void RecordingBuilder::frameCompleted(Bytes storedFrame)
{
    const DecodedFrame frame = decodeFrame(storedFrame);
    if (!frame.shown) return;
    Recording& r = m_recording;
    switch (frame.kind) {
    case FrameKind::Waveform:
        r.trace.microseconds.push_back(m_blockTime);
        r.trace.ch1.push_back(narrow(mmHgOf(frame.samples.s1)));
        r.trace.ch2.push_back(narrow(mmHgOf(frame.samples.s2)));
        break;
    case FrameKind::Values: r.beats.push_back({m_blockTime, frame.values}); break;
    case FrameKind::Status: r.statuses.push_back({m_blockTime, frame.codes}); break;
    case FrameKind::Identification:
        r.identifications.push_back({m_blockTime, QString::fromStdU16String(frame.text)});
        break;
    case FrameKind::None: break;
    }
    if (m_hook) m_hook(frame, m_blockTime);
}

QString csvBeside(const QString& bytesPath)
{
    return bytesPath.left(bytesPath.size() - QFileInfo(bytesPath).suffix().size()) + QLatin1String("csv");
}

QString bytesBeside(const QString& csvPath)
{
    return csvPath.left(csvPath.size() - QFileInfo(csvPath).suffix().size()) + QLatin1String("bytes");
}

bool readBytesInto(const QString& path, RecordingBuilder& builder, QString* error)
{
    const QString name = QDir::toNativeSeparators(path);
    auto fail = [&](const QString& what) {
        if (error) *error = QStringLiteral("%1: %2").arg(name, what);
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
    if (file.size() > record::kMaxRecordingBytes) return fail(record::tooLargeText());
    // Block by block: the file's blocks are never all held at once, only the
    // readings they make.
    record::BytesReader reader(&file);
    while (const auto block = reader.next())
        builder.takeBlock(block->microseconds, Bytes(reinterpret_cast<const Byte*>(block->bytes.constData()),
                                                     static_cast<std::size_t>(block->bytes.size())));
    if (!reader.error().isEmpty()) return fail(reader.error());
    for (const QString& comment : reader.comments()) builder.takeComment(comment);
    builder.recording().warnings << reader.warnings();
    return true;
}

std::optional<Recording> readRecording(const QString& path, QString* error)
{
    const bool csv = path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    const QString bytesPath = csv ? bytesBeside(path) : path;
    std::optional<Recording> r = csv && !QFileInfo::exists(bytesPath) ? readCsv(path, error)
                                                                      : readBytes(bytesPath, error);
    if (!r) return r;
    r->path = path;
    const QString rows = csv ? path : csvBeside(path);
    if (QFileInfo::exists(rows)) r->csvPath = rows;
    return r;
}

}  // namespace quorvid::review
