#include "bytesreader.h"

#include "csvrows.h"

#include <QBuffer>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <cstring>

namespace quorvid::record {

namespace {

// Far beyond anything the recorder writes (a block is what one read of the
// port returned), small enough that a hostile file cannot make one line a
// problem.
constexpr qsizetype kMaxLineBytes = 4 * 1024 * 1024;
// Up to 999999999.999999 s (about 31 years): the microseconds always fit.
constexpr int kMaxSecondsDigits = 9;
constexpr int kMaxDecimals = 6;

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Parses one block line (without its line end); sets *what on refusal.
std::optional<RecordedBlock> parseBlock(const char* p, const char* end, std::int64_t previous,
                                        QString* what)
{
    auto fail = [what](const QString& why) {
        *what = why;
        return std::nullopt;
    };
    if (std::memchr(p, '\r', static_cast<std::size_t>(end - p)))
        return fail(QStringLiteral("a carriage return inside the line"));

    // The time: digits, optionally a point and up to six decimals.
    std::int64_t seconds = 0;
    int digits = 0;
    for (; p != end && isDigit(*p); ++p, ++digits) {
        if (digits == kMaxSecondsDigits)
            return fail(QStringLiteral("the time has more than %1 digits before the point")
                            .arg(kMaxSecondsDigits));
        seconds = seconds * 10 + (*p - '0');
    }
    if (digits == 0) return fail(QStringLiteral("the line starts with neither a time nor '#'"));
    std::int64_t micro = 0;
    if (p != end && *p == '.') {
        ++p;
        int decimals = 0;
        for (; p != end && isDigit(*p); ++p, ++decimals) {
            if (decimals == kMaxDecimals)
                return fail(QStringLiteral("the time has more than six decimals"));
            micro = micro * 10 + (*p - '0');
        }
        if (decimals == 0) return fail(QStringLiteral("no decimals after the point"));
        for (int i = decimals; i < kMaxDecimals; ++i) micro *= 10;
    }
    if (p == end || *p != '\t')
        return fail(QStringLiteral("the time is not a non-negative decimal followed by a tab"));
    ++p;
    const std::int64_t at = seconds * 1000000 + micro;
    if (at < previous)
        return fail(QStringLiteral("the time %1 is before the previous block's %2")
                        .arg(secondsText(at, 6), secondsText(previous, 6)));

    // The bytes: "hh" then " hh" each; so the length is 3n - 1.
    const auto length = end - p;
    if (length == 0) return fail(QStringLiteral("no bytes after the tab"));
    QByteArray bytes((length + 1) / 3, Qt::Uninitialized);
    char* to = bytes.data();
    for (qsizetype i = 0; i < length; i += 3) {
        if (i > 0 && p[i - 1] != ' ')
            return fail(QStringLiteral("byte %1 is not preceded by a single space").arg(i / 3 + 1));
        const int hi = hexValue(p[i]);
        const int lo = i + 1 < length ? hexValue(p[i + 1]) : -1;
        if (hi < 0 || lo < 0) return fail(QStringLiteral("byte %1 is not two hex digits").arg(i / 3 + 1));
        *to++ = static_cast<char>(hi << 4 | lo);
    }
    if (length % 3 == 0) {
        if (p[length - 1] == ' ') return fail(QStringLiteral("a space at the end of the line"));
        return fail(QStringLiteral("byte %1 is not two hex digits").arg(length / 3));
    }
    return RecordedBlock{at, std::move(bytes)};
}

// Read from the device this much at a time.
constexpr qsizetype kChunkBytes = 64 * 1024;

}  // namespace

struct BytesReader::State {
    QIODevice* device;
    QByteArray buffer;      // what was read and not yet taken, from `taken`
    qsizetype taken = 0;
    qsizetype scanned = 0;  // no line end in buffer[taken, scanned)
    bool deviceAtEnd = false;
    bool done = false;                  // the file's end or an error met
    bool primed = false;                // next() was called
    std::optional<RecordedBlock> ahead; // the block next() returns next
    qint64 line = 0;
    qint64 bytesRead = 0;
    std::int64_t previous = 0;
    QString error;
    QStringList warnings;
    QStringList comments;

    bool fail(const QString& what)
    {
        error = QStringLiteral("line %1: %2").arg(line).arg(what);
        done = true;
        return false;
    }

    // Reads more from the device into the buffer; false at its end.
    bool fill()
    {
        if (taken > 0) {
            buffer.remove(0, taken);
            scanned -= taken;
            taken = 0;
        }
        const qsizetype had = buffer.size();
        buffer.resize(had + kChunkBytes);
        qint64 got = device->read(buffer.data() + had, kChunkBytes);
        if (got == 0 && device->isSequential() && device->waitForReadyRead(-1))
            got = device->read(buffer.data() + had, kChunkBytes);
        buffer.resize(had + std::max<qint64>(got, 0));
        if (got < 0 && !device->atEnd()) {
            const QString why = device->errorString();
            ++line;
            return fail(why.isEmpty() ? QStringLiteral("cannot read") : why);
        }
        if (got <= 0) deviceAtEnd = true;
        bytesRead += std::max<qint64>(got, 0);
        return got > 0;
    }

    // The next block from the file, comments gathered on the way.
    std::optional<RecordedBlock> fetch()
    {
        const char* p = nullptr;
        const char* end = nullptr;
        while (!done && nextLine(&p, &end)) {
            if (p == end) continue;
            if (*p == '#') {
                ++p;
                if (p != end && *p == ' ') ++p;
                comments.append(QString::fromUtf8(p, end - p));
                continue;
            }
            QString why;
            auto block = parseBlock(p, end, previous, &why);
            if (!block) {
                fail(why);
                return std::nullopt;
            }
            previous = block->microseconds;
            return block;
        }
        return std::nullopt;
    }

    // The next whole line, its line end (and a "\r" before it) removed; false
    // at the end of the file, after a torn last line, or on an error.
    bool nextLine(const char** begin, const char** end)
    {
        for (;;) {
            const char* base = buffer.constData();
            const auto* newline = static_cast<const char*>(
                std::memchr(base + scanned, '\n', static_cast<std::size_t>(buffer.size() - scanned)));
            if (newline) {
                ++line;
                const char* lineEnd = newline;
                if (lineEnd - (base + taken) > kMaxLineBytes)
                    return fail(QStringLiteral("longer than %1 bytes").arg(kMaxLineBytes));
                *begin = base + taken;
                if (lineEnd != *begin && lineEnd[-1] == '\r') --lineEnd;
                *end = lineEnd;
                taken = scanned = newline - base + 1;
                return true;
            }
            scanned = buffer.size();
            if (scanned - taken > kMaxLineBytes) {
                ++line;
                return fail(QStringLiteral("longer than %1 bytes").arg(kMaxLineBytes));
            }
            if (deviceAtEnd || !fill()) {
                if (done) return false;
                if (buffer.size() > taken) {
                    ++line;
                    warnings.append(QStringLiteral("line %1: the last line has no line end (torn), skipped")
                                        .arg(line));
                    taken = scanned = buffer.size();
                }
                done = true;
                return false;
            }
        }
    }
};

BytesReader::BytesReader(QIODevice* device)
    : m(std::make_unique<State>())
{
    m->device = device;
}

BytesReader::~BytesReader() = default;

std::optional<RecordedBlock> BytesReader::next()
{
    // One block read ahead, so that atEnd() is true as the last one is returned.
    if (!m->primed) {
        m->ahead = m->fetch();
        m->primed = true;
    }
    std::optional<RecordedBlock> block = std::move(m->ahead);
    m->ahead.reset();
    if (block) m->ahead = m->fetch();
    return block;
}

bool BytesReader::atEnd() const { return m->primed && !m->ahead; }
QString BytesReader::error() const { return m->error; }
QStringList BytesReader::warnings() const { return m->warnings; }
QStringList BytesReader::comments() const { return m->comments; }
qint64 BytesReader::line() const { return m->line; }
qint64 BytesReader::bytesRead() const { return m->bytesRead; }

namespace {

// Reads a whole recording; stops with an error past maxBytes.
std::optional<BytesRecording> readAll(QIODevice* device, qint64 maxBytes, QString* error)
{
    BytesRecording out;
    BytesReader reader(device);
    while (auto block = reader.next()) {
        if (reader.bytesRead() > maxBytes) {
            if (error) *error = tooLargeText(maxBytes);
            return std::nullopt;
        }
        out.blocks.push_back(std::move(*block));
    }
    if (!reader.error().isEmpty()) {
        if (error) *error = reader.error();
        return std::nullopt;
    }
    out.comments = reader.comments();
    out.warnings = reader.warnings();
    return out;
}

}  // namespace

std::optional<BytesRecording> parseBytes(QByteArrayView text, QString* error)
{
    QByteArray data = QByteArray::fromRawData(text.data(), text.size());
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    return readAll(&buffer, std::numeric_limits<qint64>::max(), error);
}

std::optional<BytesRecording> readBytesFile(const QString& path, QString* error)
{
    const QString name = QDir::toNativeSeparators(path);
    auto failWith = [&](const QString& what) {
        if (error) *error = QStringLiteral("%1: %2").arg(name, what);
        return std::nullopt;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return failWith(file.errorString());
    if (file.size() > kMaxRecordingBytes) return failWith(tooLargeText());
    QString why;
    auto recording = readAll(&file, kMaxRecordingBytes, &why);
    if (!recording) return failWith(why);
    return recording;
}

QString tooLargeText(qint64 maxBytes)
{
    return QStringLiteral("larger than %1 MiB, too large for a recording").arg(maxBytes / (1024 * 1024));
}

void appendBytesLine(QByteArray& to, std::int64_t microseconds, QByteArrayView bytes)
{
    char time[kSecondsTextMax];
    to.append(time, writeSeconds(time, microseconds, 6) - time);
    to.append('\t');
    to.append(QByteArray::fromRawData(bytes.data(), bytes.size()).toHex(' '));
    to.append('\n');
}

}  // namespace quorvid::record
