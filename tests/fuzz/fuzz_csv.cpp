// libFuzzer target over the reader of a recording's CSV rows, which the
// review opens from anywhere when its .bytes is not beside it: any file is
// read without a crash, a refusal names the file and its line, and what is
// accepted holds its times in order.
#include "recording.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace quorvid::review;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The reader takes a file by its name, as the review does.
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("r.csv"));
    {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) == static_cast<qint64>(size));
    }
    QString error;
    const std::optional<Recording> r = readRecording(path, &error);
    if (!r) {
        FUZZ_CHECK(error.startsWith(path + QStringLiteral(": ")));
        return 0;
    }
    const Trace& t = r->trace;
    FUZZ_CHECK(t.ch1.size() == t.size() && t.ch2.size() == t.size() && t.drawnAt.size() == t.size());
    for (std::size_t i = 1; i < t.size(); ++i) FUZZ_CHECK(t.microseconds[i - 1] <= t.microseconds[i]);
    for (const Beat& b : r->beats) FUZZ_CHECK(b.microseconds <= r->lastMicroseconds);
    (void)r->notes();
    return 0;
}
