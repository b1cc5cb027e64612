#include "recorder.h"

#include "bytesreader.h"
#include "csvrows.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace quorvid::record {

namespace {

// Well inside the promise that a killed program loses at most the last second.
constexpr int kFlushIntervalMs = 500;
// A buffer this full is written at once rather than at the next tick, so a
// burst never holds much in memory.
constexpr qsizetype kFlushAtBytes = 64 * 1024;

// Writes whole lines, or on a refusal cuts the file back to where it was, so
// it ends with its last whole line; returns the system's reason then, or "".
QString writeWhole(QFile& file, const QByteArray& lines)
{
    const qint64 before = file.size();
    qint64 done = 0;
    while (done < lines.size()) {
        // A short write (the disk filled part way) is followed by one more
        // try of the rest, whose refusal carries the system's reason.
        const qint64 n = file.write(lines.constData() + done, lines.size() - done);
        if (n <= 0) {
            QString why = file.errorString();
            if (n == 0 || why.isEmpty()) why = QStringLiteral("the system took no more");
            if (done > 0 && !file.resize(before))
                why += QStringLiteral("; the last line stays torn: %1").arg(file.errorString());
            return why;
        }
        done += n;
    }
    return {};
}

}  // namespace

struct Recorder::Files {
    explicit Files(Clock c)
        : clock(std::move(c))
    {
    }

    Clock clock;
    QFile csv;
    QFile bytes;
    QByteArray csvBuffer;
    QByteArray bytesBuffer;
    QTimer* timer = nullptr;
    std::int64_t startMicroseconds = 0;
    RowTime blockTime;  // of the block being taken; its frames' rows carry it
    bool failed = false;
    bool failureReported = false;
    QString failure;

    std::int64_t elapsed() const
    {
        return std::max<std::int64_t>(0, clock.monotonicMicroseconds() - startMicroseconds);
    }
};

Recorder::Clock Recorder::systemClock()
{
    return Clock{
        [] { return QDateTime::currentMSecsSinceEpoch(); },
        [] {
            using namespace std::chrono;
            return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
        },
    };
}

QString Recorder::csvPathFor(const QString& chosen)
{
    if (chosen.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) return chosen;
    return chosen + QLatin1String(".csv");
}

QString Recorder::bytesPathFor(const QString& chosen)
{
    const QString csv = csvPathFor(chosen);
    return csv.left(csv.size() - 4) + QLatin1String(".bytes");
}

Recorder::Recorder(Clock clock, QObject* parent)
    : QObject(parent)
    , m_files(std::make_unique<Files>(std::move(clock)))
{
    m_files->timer = new QTimer(this);
    m_files->timer->setObjectName(QStringLiteral("flushTimer"));
    m_files->timer->setInterval(kFlushIntervalMs);
    connect(m_files->timer, &QTimer::timeout, this, &Recorder::flush);
}

std::unique_ptr<Recorder> Recorder::start(const QString& chosenPath, const RecordingStart& where,
                                          QString* error, Clock clock)
{
    return startOn(csvPathFor(chosenPath), bytesPathFor(chosenPath), where, error, std::move(clock));
}

std::unique_ptr<Recorder> Recorder::startOn(const QString& csvPath, const QString& bytesPath,
                                            const RecordingStart& where, QString* error, Clock clock)
{
    std::unique_ptr<Recorder> recorder(new Recorder(std::move(clock)));
    Files& f = *recorder->m_files;
    f.csv.setFileName(csvPath);
    f.bytes.setFileName(bytesPath);
    // Unbuffered: each flush is one write call per file, so the file never
    // holds part of a line that a buffer in between has not passed on yet.
    // Both are opened before either is emptied: a name that cannot be
    // written leaves an earlier recording of that name as it was.
    for (QFile* file : {&f.csv, &f.bytes}) {
        // Append opens without emptying; a device (/dev/null) has no end to seek.
        const QFileInfo info(file->fileName());
        const auto keep = info.exists() && !info.isFile() ? QIODevice::NotOpen : QIODevice::Append;
        if (!file->open(QIODevice::WriteOnly | keep | QIODevice::Unbuffered)) {
            if (error)
                *error = QStringLiteral("Cannot create %1: %2")
                             .arg(QDir::toNativeSeparators(file->fileName()), file->errorString());
            return nullptr;
        }
    }
    for (QFile* file : {&f.csv, &f.bytes}) {
        if (file->size() > 0 && !file->resize(0)) {
            if (error)
                *error = QStringLiteral("Cannot create %1: %2")
                             .arg(QDir::toNativeSeparators(file->fileName()), file->errorString());
            return nullptr;
        }
    }

    f.startMicroseconds = f.clock.monotonicMicroseconds();
    f.csvBuffer.reserve(2 * kFlushAtBytes);
    f.bytesBuffer.reserve(2 * kFlushAtBytes);
    f.csvBuffer.append(kCsvHeader.data(), static_cast<qsizetype>(kCsvHeader.size())).append('\n');

    f.bytesBuffer += startNotes(where, f.clock.utcMilliseconds());
    f.timer->start();
    return recorder;
}

Recorder::~Recorder()
{
    // Nobody is left to tell of a refusal here; what was written stays.
    if (!m_files->failed) writeOut();
}

QString Recorder::csvPath() const { return m_files->csv.fileName(); }
QString Recorder::bytesPath() const { return m_files->bytes.fileName(); }
bool Recorder::hasFailed() const { return m_files->failed; }

void Recorder::note(const QString& text)
{
    Files& f = *m_files;
    if (f.failed) return;
    f.bytesBuffer += timedNote(f.elapsed(), text);
    writeOutWhenFull();
}

void Recorder::flush()
{
    if (!m_files->failed) writeOut();
    reportFailure();
}

void Recorder::blockReceived(Bytes block)
{
    Files& f = *m_files;
    if (f.failed) return;
    f.blockTime = RowTime{f.clock.utcMilliseconds(), f.elapsed()};
    if (block.empty()) return;
    appendBytesLine(f.bytesBuffer, f.blockTime.elapsedMicroseconds,
                    QByteArrayView(block.data(), static_cast<qsizetype>(block.size())));
    writeOutWhenFull();
}

void Recorder::frameCompleted(Bytes storedFrame)
{
    Files& f = *m_files;
    if (f.failed) return;
    const std::optional<std::string> row = csvRow(storedFrame, f.blockTime);
    if (!row) return;
    f.csvBuffer.append(row->data(), static_cast<qsizetype>(row->size())).append('\n');
    writeOutWhenFull();
}

void Recorder::bytesOutsideFrames(std::size_t)
{
    // Nothing to add: those bytes are already in their block's line.
}

void Recorder::writeOutWhenFull()
{
    Files& f = *m_files;
    if (f.csvBuffer.size() < kFlushAtBytes && f.bytesBuffer.size() < kFlushAtBytes) return;
    writeOut();
    // This runs inside the framer (or the caller of note()); the signal waits
    // for the event loop, so its receiver may end the recording safely.
    if (f.failed) QTimer::singleShot(0, this, &Recorder::reportFailure);
}

void Recorder::writeOut()
{
    Files& f = *m_files;
    for (auto [file, buffer] : {std::pair{&f.csv, &f.csvBuffer}, std::pair{&f.bytes, &f.bytesBuffer}}) {
        if (buffer->isEmpty()) continue;
        if (const QString why = writeWhole(*file, *buffer); !why.isEmpty()) {
            f.failed = true;
            f.failure = QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(file->fileName()), why);
            f.timer->stop();
            f.csvBuffer.clear();
            f.bytesBuffer.clear();
            f.csv.close();
            f.bytes.close();
            return;
        }
        buffer->resize(0);  // keeps the capacity
    }
}

void Recorder::reportFailure()
{
    Files& f = *m_files;
    if (!f.failed || f.failureReported) return;
    f.failureReported = true;
    emit failed(f.failure);
}

}  // namespace quorvid::record
