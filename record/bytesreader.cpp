#include "bytesreader.h"

#include <QDir>
#include <QFile>

#include <cstdio>
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

class LineParser {
public:
    LineParser(BytesRecording& out, QString* error)
        : m_out(out)
        , m_error(error)
    {
    }

    bool take(std::int64_t lineNumber, const char* p, const char* end)
    {
        m_line = lineNumber;
        if (p == end) return true;
        if (*p == '#') {
            ++p;
            if (p != end && *p == ' ') ++p;
            m_out.comments.append(QString::fromUtf8(p, end - p));
            return true;
        }
        return block(p, end);
    }

private:
    bool fail(const QString& what)
    {
        if (m_error) *m_error = QStringLiteral("line %1: %2").arg(m_line).arg(what);
        return false;
    }

    bool block(const char* p, const char* end)
    {
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
        if (digits == 0)
            return fail(QStringLiteral("the line starts with neither a time nor '#'"));
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
        if (at < m_previous)
            return fail(QStringLiteral("the time %1 is before the previous block's %2")
                            .arg(secondsText(at), secondsText(m_previous)));

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
            if (hi < 0 || lo < 0)
                return fail(QStringLiteral("byte %1 is not two hex digits").arg(i / 3 + 1));
            *to++ = static_cast<char>(hi << 4 | lo);
        }
        if (length % 3 == 0) {
            if (p[length - 1] == ' ') return fail(QStringLiteral("a space at the end of the line"));
            return fail(QStringLiteral("byte %1 is not two hex digits").arg(length / 3));
        }

        m_previous = at;
        m_out.blocks.push_back(RecordedBlock{at, std::move(bytes)});
        return true;
    }

    BytesRecording& m_out;
    QString* m_error;
    std::int64_t m_line = 0;
    std::int64_t m_previous = 0;
};

}  // namespace

std::optional<BytesRecording> parseBytes(QByteArrayView text, QString* error)
{
    BytesRecording out;
    LineParser parser(out, error);
    const char* p = text.data();
    const char* const end = p + text.size();
    std::int64_t line = 0;
    while (p != end) {
        ++line;
        const auto* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* lineEnd = newline ? newline : end;
        if (lineEnd - p > kMaxLineBytes) {
            if (error)
                *error = QStringLiteral("line %1: longer than %2 bytes").arg(line).arg(kMaxLineBytes);
            return std::nullopt;
        }
        const char* next = newline ? newline + 1 : end;
        if (lineEnd != p && lineEnd[-1] == '\r') --lineEnd;
        if (!parser.take(line, p, lineEnd)) return std::nullopt;
        p = next;
    }
    return out;
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
    // A device or pipe reports no size; read at most one byte past the limit.
    const QByteArray text = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) return failWith(file.errorString());
    if (text.size() > kMaxFileBytes)
        return failWith(QStringLiteral("larger than %1 MiB, too large for a recording")
                            .arg(kMaxFileBytes / (1024 * 1024)));
    QString why;
    auto recording = parseBytes(text, &why);
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
