// Reading a recording under an address-space limit. (A file that may grow no
// further, as a full disk, is tested on the built monitor.)
#include "bytesreader.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quorvid;
using namespace quorvid::record;

// A small recording reads in little memory: in a child whose address space
// may grow by 64 MiB only.
TEST(BytesReaderAtLimits, ASmallRecordingReadsInBoundedMemory)
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
