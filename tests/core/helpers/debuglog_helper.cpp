// SPDX-License-Identifier: MIT
// A second process for the debug-log tests:
//   debuglog_helper append <log> <count> <tag>   appends <count> numbered lines through TDebugClass; exit 0 when
//                                                every write returned 1
//   debuglog_helper hold <log> [partial]         takes the log's lock (and writes a line without its end when
//                                                "partial" is given), prints "ready" and sleeps until killed
#include "DebugFile.h"

#include <QString>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

int append(const char* path, int count, const char* tag)
{
    TDebugClass log(QString::fromLocal8Bit(path));
    if (!log.isActive()) {
        return 3;
    }
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        // Chinese text makes the lines multi-byte GBK, as the station's are.
        if (log.WriteLine(QStringLiteral("%1 %2 发送事件邮件 成功！ ........................................")
                              .arg(QLatin1String(tag))
                              .arg(i))
            != 1) {
            ++failed;
        }
    }
    std::printf("failed %d\n", failed);
    return failed == 0 ? 0 : 2;
}

int hold(const char* path, bool partial)
{
    const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) {
        return 3;
    }
    if (partial) {
        ::lseek(fd, 0, SEEK_END);
        const char text[] = "2026-1-1 00:00:00.000, half a li";
        if (::write(fd, text, sizeof(text) - 1) != static_cast<ssize_t>(sizeof(text) - 1)) {
            return 3;
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    // Never releases: only the process's end frees the lock. The bound keeps a forgotten helper from living on.
    ::sleep(60);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "append") == 0) {
        return append(argv[2], std::atoi(argv[3]), argv[4]);
    }
    if (argc >= 3 && std::strcmp(argv[1], "hold") == 0) {
        return hold(argv[2], argc >= 4 && std::strcmp(argv[3], "partial") == 0);
    }
    std::fprintf(stderr, "usage: debuglog_helper append <log> <count> <tag> | hold <log> [partial]\n");
    return 1;
}
