// The recording at the system's limits: a file that may grow no further (as a
// full disk), and reading a recording under an address-space limit.
#include "bytesreader.h"
#include "framer.h"
#include "recorder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quorvid;
using namespace quorvid::record;

namespace {

// The file size limit of this process lowered for the scope, with SIGXFSZ
// ignored so a write beyond it is refused ("File too large") as a full disk
// refuses one.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

}  // namespace

// The write that meets the limit is cut back: both files end with their last
// whole line, the message has the system's reason, and the .bytes file reads
// back whole.
TEST(RecorderAtLimits, AFullDiskLeavesWholeLinesAndSaysWhy)
{
    QTemporaryDir dir;
    QString error;
    auto recorder = Recorder::start(dir.filePath("f"), {"COM1", "/dev/pts/4", "quorvid 1"}, &error);
    ASSERT_TRUE(recorder) << error.toStdString();
    QSignalSpy spy(recorder.get(), &Recorder::failed);
    Framer framer;
    framer.setFrameObserver(recorder.get());
    {
        const FileSizeLimit limit(16 * 1024);
        // Values frames, each in a block of its own, until the limit stops it.
        for (int i = 0; i < 20000 && !recorder->hasFailed(); ++i) {
            const Byte frame[] = {0xD0, static_cast<Byte>(i & 0x7F), 7, 0x80};
            framer.feed(Bytes(frame, sizeof frame));
            if (i % 50 == 0) recorder->flush();
        }
        recorder->flush();
    }
    ASSERT_EQ(spy.count(), 1);
    const QString message = spy.at(0).at(0).toString();
    EXPECT_TRUE(message.contains("File too large")) << message.toStdString();
    for (const char* name : {"f.csv", "f.bytes"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        EXPECT_GT(text.size(), 1000) << name;
        EXPECT_TRUE(text.endsWith('\n')) << name << ": " << text.right(40).toStdString();
    }
    const auto read = readBytesFile(dir.filePath("f.bytes"), &error);
    ASSERT_TRUE(read) << error.toStdString();
    EXPECT_TRUE(read->warnings.isEmpty()) << read->warnings.join('\n').toStdString();
}

// A small recording reads in little memory: in a child whose address space
// may grow by 64 MiB only.
TEST(RecorderAtLimits, ASmallRecordingReadsInBoundedMemory)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("small.bytes");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray text = "# recording started 2026-12-07T13:15:30.000Z\n";
        for (int i = 0; i < 400; ++i) appendBytesLine(text, i * 2000, QByteArray(4, '\x5a'));
        file.write(text);
    }
    long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    if (pages == 0) GTEST_SKIP() << "no /proc/self/statm here";
    const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + 64 * 1024 * 1024;

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit as{limit, limit};
        if (::setrlimit(RLIMIT_AS, &as) != 0) ::_exit(3);
        try {
            QString why;
            const auto read = readBytesFile(path, &why);
            ::_exit(read && read->blocks.size() == 400 ? 0 : 1);
        } catch (...) {
            ::_exit(2);  // out of memory
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: misread, 2: out of memory, 3: no limit";
}
