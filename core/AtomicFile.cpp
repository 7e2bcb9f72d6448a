// SPDX-License-Identifier: MIT
#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

QString userName(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return QString::fromLocal8Bit(found->pw_name);
    }
    return QString::number(uid);
}

QString groupName(gid_t gid)
{
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return QString::fromLocal8Bit(found->gr_name);
    }
    return QString::number(gid);
}

QString ownerRefusal(const QString& file, uid_t owner, gid_t group)
{
    return QStringLiteral("%1 belongs to %2; as user %3 this program cannot give the new file that owner and group, "
                          "so nothing was written (write it as its owner or as root)")
        .arg(file, OwnerText(owner, group), QStringLiteral("%1 (%2)").arg(userName(::geteuid())).arg(::geteuid()));
}

} // namespace

QString OwnerText(uid_t owner, gid_t group)
{
    return QStringLiteral("%1:%2 (%3:%4)").arg(userName(owner), groupName(group)).arg(owner).arg(group);
}

bool MayGiveOwner(const QString& file, uid_t owner, gid_t group, QString& error)
{
    const uid_t me = ::geteuid();
    bool may = me == 0;
    if (!may && owner == me) {
        may = group == ::getegid();
        if (!may) {
            const int n = ::getgroups(0, nullptr);
            std::vector<gid_t> groups(static_cast<size_t>(std::max(n, 0)));
            const int got = ::getgroups(static_cast<int>(groups.size()), groups.data());
            may = got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
        }
    }
    if (!may) {
        error = ownerRefusal(file, owner, group);
    }
    return may;
}

mode_t CurrentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

bool ResolveWriteTarget(const QString& path, QString& resolved, QString& error)
{
    struct stat st
    {
    };
    const QByteArray native = QFile::encodeName(path);
    if (::lstat(native.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        resolved = path;
        return true;
    }
    // realpath follows the whole chain and fails for a link that leads nowhere.
    char* real = ::realpath(native.constData(), nullptr);
    if (real == nullptr) {
        error = QStringLiteral("%1 is a symbolic link that leads to no file (%2); nothing was written")
                    .arg(path, systemError());
        return false;
    }
    resolved = QFile::decodeName(real);
    std::free(real);
    return true;
}

TAtomicWriteResult WriteFileAtomically(
    const QString& target, const QByteArray& bytes, const TFileAttributes& attributes, QString& error)
{
    QString real;
    if (!ResolveWriteTarget(target, real, error)) {
        return TAtomicWriteResult::Failed;
    }
    const QFileInfo info(real);
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    std::optional<uid_t> owner = attributes.owner;
    std::optional<gid_t> group = attributes.group;
    struct stat replaced
    {
    };
    if (::stat(path.constData(), &replaced) == 0) {
        owner = owner.value_or(replaced.st_uid);
        group = group.value_or(replaced.st_gid);
    }
    QByteArray temp = dir + "/." + QFile::encodeName(info.fileName()) + ".XXXXXX";
    // mkstemp makes the file 0600, so its contents are never readable by others before the mode is set.
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = QStringLiteral("%1: cannot create a temporary file there: %2").arg(info.absolutePath(), systemError());
        return TAtomicWriteResult::Failed;
    }
    struct stat made
    {
    };
    bool ok = ::fstat(fd, &made) == 0;
    const uid_t wantOwner = owner.value_or(made.st_uid);
    const gid_t wantGroup = group.value_or(made.st_gid);
    if (ok && (wantOwner != made.st_uid || wantGroup != made.st_gid) && ::fchown(fd, wantOwner, wantGroup) != 0) {
        const bool refused = errno == EPERM;
        error = refused ? ownerRefusal(real, wantOwner, wantGroup) : QStringLiteral("%1: %2").arg(real, systemError());
        ::close(fd);
        ::unlink(temp.constData());
        return TAtomicWriteResult::Failed;
    }
    // The mode after the owner: a change of owner clears the set-id bits.
    ok = ok && ::fchmod(fd, attributes.mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.constData(), path.constData()) != 0) {
        ok = false;
    }
    if (!ok) {
        error = QStringLiteral("%1: %2").arg(real, systemError());
        ::unlink(temp.constData());
        return TAtomicWriteResult::Failed;
    }
    // Only the folder's flush makes the rename survive a power loss. A file system that cannot flush a folder
    // says EINVAL: there is nothing more to be done there.
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool flushed = dirFd >= 0 && (::fsync(dirFd) == 0 || errno == EINVAL);
    if (!flushed) {
        error = QStringLiteral("%1 was written, but its folder could not be flushed to disk (%2); the change may be "
                               "lost at a power failure")
                    .arg(real, systemError());
    }
    if (dirFd >= 0) {
        ::close(dirFd);
    }
    return flushed ? TAtomicWriteResult::Written : TAtomicWriteResult::NotFlushed;
}

bool WriteFileAtomically(const QString& target, const QByteArray& bytes, mode_t mode, QString& error)
{
    TFileAttributes attributes;
    attributes.mode = mode;
    return WriteFileAtomically(target, bytes, attributes, error) == TAtomicWriteResult::Written;
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
