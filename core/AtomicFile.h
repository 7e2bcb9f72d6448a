// SPDX-License-Identifier: MIT
#pragma once

// Writing a whole file so that readers see the old contents or the new, never a part: a temporary file in the
// target's folder, flushed to disk, renamed over the target, the folder flushed. A file replaced this way keeps
// its owner and group (a configuration readable by one group must not move to the writer's group), and a
// symbolic link at the target stays a link: the write goes to the file it leads to.

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

// What a written file gets besides its bytes.
struct TFileAttributes
{
    mode_t mode = 0600; // set as given: the process's umask is not applied
    // Unset: those of the file replaced, or the writer's own for a new file.
    std::optional<uid_t> owner;
    std::optional<gid_t> group;
};

enum class TAtomicWriteResult
{
    Written,
    NotFlushed, // the new file is in place, but its folder could not be flushed: a power loss may undo the write
    Failed, // the target is left as it was
};

// Writes bytes to target (through a symbolic link to the file it leads to) with the given attributes. The
// owner and group are refused, before anything is written, when this process may not give a file them (see
// MayGiveOwner). error names the path and the reason unless the result is Written.
TAtomicWriteResult WriteFileAtomically(
    const QString& target, const QByteArray& bytes, const TFileAttributes& attributes, QString& error);

// The same with the given permission bits and the replaced file's owner and group; true only when Written.
bool WriteFileAtomically(const QString& target, const QByteArray& bytes, mode_t mode, QString& error);

// The file a write to path replaces: path itself, or, for a symbolic link, the file it finally leads to. False
// with a message for a link that leads nowhere (a missing file, a loop).
bool ResolveWriteTarget(const QString& path, QString& resolved, QString& error);

// Whether this process may give a file it makes this owner and group: root always; another user only its own
// user with its primary group or one of its other groups. False with a message naming the file, the owner and
// the group otherwise.
bool MayGiveOwner(const QString& file, uid_t owner, gid_t group, QString& error);

// "name:group (uid:gid)", the numbers alone where the system knows no name.
QString OwnerText(uid_t owner, gid_t group);

// The umask of the process, read without changing it for longer than the call.
mode_t CurrentUmask();

// True when both paths name the same file: the same inode when both exist, else the same absolute path with
// symbolic links of the folders resolved.
bool SameFile(const QString& a, const QString& b);
