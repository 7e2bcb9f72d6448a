// SPDX-License-Identifier: MIT
#pragma once

// Writing a whole file so that readers see the old contents or the new, never a part: a temporary file in the
// target's folder, flushed to disk, renamed over the target, the folder synced.

#include <QByteArray>
#include <QString>
#include <sys/types.h>

// Writes bytes to target with the given permission bits (the process's umask is not applied, so a file that
// holds a password can be made 0600 whatever the umask). False with a message naming the path otherwise; the
// target is then left as it was.
bool WriteFileAtomically(const QString& target, const QByteArray& bytes, mode_t mode, QString& error);

// The umask of the process, read without changing it for longer than the call.
mode_t CurrentUmask();

// True when both paths name the same file: the same inode when both exist, else the same absolute path with
// symbolic links of the folders resolved.
bool SameFile(const QString& a, const QString& b);
