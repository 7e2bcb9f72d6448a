// SPDX-License-Identifier: MIT
#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += n;
    }
    return true;
}

// The absolute path with the folder's symbolic links resolved (the file itself need not exist).
QString resolvedPath(const QString& path)
{
    const QFileInfo info(path);
    const QString dir = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (dir.isEmpty() ? info.absolutePath() : dir) + QLatin1Char('/') + info.fileName();
}

} // namespace

mode_t CurrentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

bool WriteFileAtomically(const QString& target, const QByteArray& bytes, mode_t mode, QString& error)
{
    const QFileInfo info(target);
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    QByteArray temp = dir + "/." + QFile::encodeName(info.fileName()) + ".XXXXXX";
    // mkstemp makes the file 0600, so its contents are never readable by others before the mode is set.
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = QStringLiteral("%1: cannot create a temporary file there: %2").arg(info.absolutePath(), systemError());
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.constData(), path.constData()) != 0) {
        ok = false;
    }
    if (!ok) {
        error = QStringLiteral("%1: %2").arg(target, systemError());
        ::unlink(temp.constData());
        return false;
    }
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool SameFile(const QString& a, const QString& b)
{
    struct stat sa
    {
    };
    struct stat sb
    {
    };
    const QByteArray pa = QFile::encodeName(a);
    const QByteArray pb = QFile::encodeName(b);
    if (::stat(pa.constData(), &sa) == 0 && ::stat(pb.constData(), &sb) == 0) {
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    return resolvedPath(a) == resolvedPath(b);
}
