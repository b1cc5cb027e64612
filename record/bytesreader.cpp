#include "bytesreader.h"

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
// A recording of a whole day is some hundreds of megabytes of text at most;
// a larger file is not one, and reading it would only exhaust memory.
constexpr qint64 kMaxFileBytes = 1024LL * 1024 * 1024;
// Up to 999999999.999999 s (about 31 years): the microseconds always fit.
constexpr int kMaxSecondsDigits = 9;
constexpr int kMaxDecimals = 6;

constexpr char kHexDigits[] = "0123456789abcdef";

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

QString secondsText(std::int64_t microseconds)
{
    return QStringLiteral("%1.%2")
        .arg(microseconds / 1000000)
        .arg(microseconds % 1000000, 6, 10, QLatin1Char('0'));
}

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
                        .arg(secondsText(at), secondsText(previous)));

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
    bool done = false;
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
    const char* p = nullptr;
    const char* end = nullptr;
    while (!m->done && m->nextLine(&p, &end)) {
        if (p == end) continue;
        if (*p == '#') {
            ++p;
            if (p != end && *p == ' ') ++p;
            m->comments.append(QString::fromUtf8(p, end - p));
            continue;
        }
        QString why;
        auto block = parseBlock(p, end, m->previous, &why);
        if (!block) {
            m->fail(why);
            return std::nullopt;
        }
        m->previous = block->microseconds;
        return block;
    }
    return std::nullopt;
}

bool BytesReader::atEnd() const { return m->done; }
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
            if (error)
                *error = QStringLiteral("larger than %1 MiB, too large for a recording")
                             .arg(maxBytes / (1024 * 1024));
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
    if (file.size() > kMaxFileBytes)
        return failWith(QStringLiteral("larger than %1 MiB, too large for a recording")
                            .arg(kMaxFileBytes / (1024 * 1024)));
    QString why;
    auto recording = readAll(&file, kMaxFileBytes, &why);
    if (!recording) return failWith(why);
    return recording;
}

void appendBytesLine(QByteArray& to, std::int64_t microseconds, QByteArrayView bytes)
{
    if (microseconds < 0) microseconds = 0;
    char time[32];
    const int timeLength = std::snprintf(time, sizeof time, "%lld.%06lld",
                                         static_cast<long long>(microseconds / 1000000),
                                         static_cast<long long>(microseconds % 1000000));
    const qsizetype hexLength = bytes.isEmpty() ? 0 : 3 * bytes.size() - 1;
    const qsizetype at = to.size();
    to.resize(at + timeLength + 1 + hexLength + 1);
    char* out = to.data() + at;
    std::memcpy(out, time, static_cast<std::size_t>(timeLength));
    out += timeLength;
    *out++ = '\t';
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i > 0) *out++ = ' ';
        const auto b = static_cast<unsigned char>(bytes[i]);
        *out++ = kHexDigits[b >> 4];
        *out++ = kHexDigits[b & 0x0F];
    }
    *out = '\n';
}

}  // namespace quorvid::record
