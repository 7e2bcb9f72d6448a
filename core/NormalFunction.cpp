// SPDX-License-Identifier: MIT
#include "NormalFunction.h"

#include "GbkText.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

int32_t OpenFileEx(const QString& path, uint8_t access, uint8_t creation, uint8_t share)
{
    int flags = 0;
    if (access & faRead) {
        flags = O_RDONLY;
    } else if (access & faWrite) {
        flags = O_WRONLY;
    } else if (access & faReadWrite) {
        flags = O_RDWR;
    } else {
        return -1;
    }
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty()) {
        return -1;
    }
    // "Create" empties the file, but only once the share lock is had: a file another opener has locked
    // against us must come out of a refused open unchanged.
    const bool truncate = (access & faCreate) != 0;
    if (truncate) {
        flags |= O_CREAT;
    }
    if (access & faOpenAlways) {
        struct stat st;
        if (::stat(native.constData(), &st) != 0) {
            flags |= O_CREAT;
            if (!(creation & coKeepAccess)) {
                flags = (flags & ~O_ACCMODE) | O_RDWR;
            }
        }
    }
    flags |= O_CLOEXEC;
    int fd = -1;
    do {
        fd = ::open(native.constData(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return -1;
    }
    int lock = 0;
    if (share & smCompat) {
        lock = 0;
    } else if (share & (smExclusive)) {
        lock = LOCK_EX;
    } else if (share & smDenyWrite) {
        lock = LOCK_SH;
    } else if (share & smDenyRead) {
        lock = LOCK_EX;
    }
    if (lock != 0 && ::flock(fd, lock | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    // A folder is no file: the open fails as it would on Windows instead of handing out a handle every read
    // of which fails.
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || S_ISDIR(opened.st_mode)) {
        ::close(fd);
        return -1;
    }
    if (truncate && ::ftruncate(fd, 0) != 0) {
        // A read-only handle cannot truncate; a short-lived write handle does it.
        const int writer = ::open(native.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (writer < 0) {
            ::close(fd);
            return -1;
        }
        ::close(writer);
    }
    // Descriptor 0 is never handed out as a handle: callers treat 0 as "no handle".
    if (fd == 0) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        return moved < 0 ? -1 : moved;
    }
    return fd;
}

namespace {

const char* fileKind(mode_t mode)
{
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    return S_ISSOCK(mode) ? "a socket" : "not a file";
}

int32_t refuse(QString* why, const QString& text)
{
    if (why != nullptr) {
        *why = text;
    }
    return -1;
}

QString errnoText(int error)
{
    if (error == ENOENT) {
        return QStringLiteral("does not exist");
    }
    return QStringLiteral("cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

int32_t OpenRegularFileShared(const QString& path, QString* why)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (native.isEmpty() || ::stat(native.constData(), &st) != 0) {
        return refuse(why, errnoText(native.isEmpty() ? ENOENT : errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return refuse(why, QStringLiteral("is not a regular file (%1)").arg(QLatin1String(fileKind(st.st_mode))));
    }
    // Non-blocking, in case a FIFO took the file's place since the look: the open returns at once, and the
    // look at the open file refuses it.
    int fd = -1;
    do {
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return refuse(why, errnoText(errno));
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse(why, QStringLiteral("is not a regular file (%1)").arg(QLatin1String(fileKind(st.st_mode))));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        return refuse(why, errnoText(error));
    }
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return refuse(why,
            error == EWOULDBLOCK
                ? QStringLiteral("is locked by a writer")
                : QStringLiteral("cannot be locked: %1").arg(QString::fromLocal8Bit(std::strerror(error))));
    }
    if (fd == 0) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        return moved < 0 ? refuse(why, errnoText(errno)) : moved;
    }
    return fd;
}

int64_t LSeekFile(int32_t handle, int64_t offset, int origin)
{
    if (handle <= 0) {
        return -1;
    }
    const int whence = origin == 0 ? SEEK_SET : (origin == 1 ? SEEK_CUR : (origin == 2 ? SEEK_END : -1));
    if (whence < 0) {
        return -1;
    }
    const off_t r = ::lseek(handle, static_cast<off_t>(offset), whence);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t LReadFile(int32_t handle, void* buffer, int64_t count)
{
    if (handle <= 0 || count < 0 || (buffer == nullptr && count > 0)) {
        return -1;
    }
    // Reads until count bytes arrived or the file ends, so a short result always means end of file.
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t r = ::read(handle, out + done, static_cast<size_t>(count - done));
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return done > 0 ? done : -1;
        }
        if (r == 0) {
            break;
        }
        done += r;
    }
    return done;
}

int64_t LWriteFile(int32_t handle, const void* buffer, int64_t count)
{
    if (handle <= 0 || count < 0 || (buffer == nullptr && count > 0)) {
        return -1;
    }
    const auto* in = static_cast<const char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t r = ::write(handle, in + done, static_cast<size_t>(count - done));
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return done > 0 ? done : -1;
        }
        done += r;
    }
    return done;
}

int32_t LCloseFile(int32_t& handle)
{
    int32_t result = -1;
    if (handle > 0) {
        result = ::close(handle) == 0 ? 0 : -1;
    }
    handle = -1;
    return result;
}

QString EscapeControls(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) {
            out += QStringLiteral("\\x") + QString::number(u, 16).rightJustified(2, QLatin1Char('0'));
        } else if (u == 0x2028 || u == 0x2029) {
            out += QStringLiteral("\\u") + QString::number(u, 16);
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray TrimBlanks(const QByteArray& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20) {
        ++begin;
    }
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20) {
        --end;
    }
    return text.mid(begin, end - begin);
}

QByteArray TextBeforeChar(const QByteArray& text, char separator)
{
    const qsizetype at = Gbk::indexOfChar(text, separator);
    if (at < 0) {
        return {};
    }
    return TrimBlanks(text.left(at));
}

QByteArray TextAfterChar(const QByteArray& text, char separator)
{
    const qsizetype at = Gbk::indexOfChar(text, separator);
    if (at < 0) {
        return {};
    }
    const qsizetype comment = Gbk::indexOf(text, "//");
    const qsizetype start = at + 1;
    if (comment >= 0 && comment < start) {
        return {};
    }
    const qsizetype end = comment >= 0 ? comment : text.size();
    return TrimBlanks(text.mid(start, end - start));
}
