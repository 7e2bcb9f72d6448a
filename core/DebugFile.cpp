// SPDX-License-Identifier: MIT
#include "DebugFile.h"

#include "GbkCodec.h"
#include "NormalFunction.h"

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const TClock& systemClock()
{
    static const TSystemClock clock;
    return clock;
}

// Holds the advisory lock on the log file; released on every way out.
class FileLock
{
public:
    explicit FileLock(int fd)
        : m_fd(fd)
    {
    }
    ~FileLock()
    {
        if (m_held) {
            ::flock(m_fd, LOCK_UN);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Polls without blocking, backing off from 0.2 ms to 10 ms, until the lock is had or timeoutMs has passed.
    bool acquire(int timeoutMs)
    {
        using namespace std::chrono;
        const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
        auto pause = microseconds(200);
        for (;;) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
                m_held = true;
                return true;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return false;
            }
            const auto now = steady_clock::now();
            if (now >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::min<steady_clock::duration>(pause, deadline - now));
            pause = std::min<microseconds>(pause * 2, milliseconds(10));
        }
    }

private:
    int m_fd;
    bool m_held = false;
};

// What must come before a new line so that it starts on a line of its own: nothing when the file is empty or
// ends with LF, the missing LF after a lone CR, else CR LF (a writer died in the middle of its line).
QByteArray lineRepair(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
        return {};
    }
    char last = 0;
    if (::pread(fd, &last, 1, st.st_size - 1) != 1) {
        return {};
    }
    if (last == '\n') {
        return {};
    }
    return last == '\r' ? QByteArray("\n") : QByteArray("\r\n");
}

} // namespace

TDebugClass::TDebugClass(const QString& path, const TClock* clock)
    : m_fileName(path)
    , m_nativePath(QFile::encodeName(path))
    , m_clock(clock != nullptr ? clock : &systemClock())
{
    if (path.isEmpty()) {
        return;
    }
    const int32_t handle = openLogFile();
    if (handle > 0) {
        m_handle = handle;
        m_active = true;
    }
}

TDebugClass::~TDebugClass()
{
    if (m_handle > 0) {
        LCloseFile(m_handle);
    }
}

int32_t TDebugClass::openLogFile() const
{
    // Read-write, created when missing and never truncated, shared with every other writer.
    return OpenFileEx(m_fileName, faReadWrite | faOpenAlways | faNoEffect, coKeepAccess | coBit1, smDenyNone2);
}

bool TDebugClass::followPath()
{
    // Somebody deleted the log or moved it away (rotation): lines written to the old file would be lost or land
    // in the moved file, so the path is opened again. When that fails, a moved file goes on; a deleted one
    // cannot keep any line.
    struct stat byPath;
    struct stat byHandle;
    if (::fstat(m_handle, &byHandle) != 0) {
        return false;
    }
    if (::stat(m_nativePath.constData(), &byPath) == 0 && byPath.st_ino == byHandle.st_ino
        && byPath.st_dev == byHandle.st_dev) {
        return true;
    }
    const int32_t handle = openLogFile();
    if (handle <= 0) {
        return byHandle.st_nlink > 0;
    }
    LCloseFile(m_handle);
    m_handle = handle;
    return true;
}

int32_t TDebugClass::WriteLine(const QString& text)
{
    if (!m_active) {
        return -1;
    }
    if (text.isEmpty()) {
        return 0;
    }
    QByteArray line = Gbk::encode(text);
    line.append("\r\n", 2);

    const std::lock_guard<std::mutex> turn(m_writeMutex);
    if (m_handle <= 0 || !followPath()) {
        return 0;
    }
    FileLock lock(m_handle);
    if (!lock.acquire(m_lockTimeoutMs)) {
        return 0;
    }
    const QByteArray repair = lineRepair(m_handle);
    if (!repair.isEmpty()) {
        line.prepend(repair);
    }
    if (LSeekFile(m_handle, 0, 2) < 0) {
        return 0;
    }
    // One write call for the whole line, so no reader ever sees a line without its end.
    const int64_t written = LWriteFile(m_handle, line.constData(), line.size());
    return written == line.size() ? 1 : 0;
}

int32_t TDebugClass::WriteTimed(const QString& text)
{
    return WriteLine(DateTimeText(m_clock->now()) + QStringLiteral(", ") + text);
}
