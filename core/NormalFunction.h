// SPDX-License-Identifier: MIT
#pragma once

// Low-level file access that never throws: every failure is -1. Handles are POSIX descriptors; the share modes
// of the suite's file model become advisory flock() locks.

#include <QByteArray>
#include <QString>
#include <cstdint>

// Access set bits.
constexpr uint8_t faRead = 1 << 0;
constexpr uint8_t faWrite = 1 << 1;
constexpr uint8_t faReadWrite = 1 << 2;
constexpr uint8_t faOpenAlways = 1 << 3;
constexpr uint8_t faCreate = 1 << 4;
constexpr uint8_t faNoEffect = 1 << 5;
// Creation option bits.
constexpr uint8_t coKeepAccess = 1 << 0;
constexpr uint8_t coBit1 = 1 << 1;
// Share set bits, in priority order.
constexpr uint8_t smCompat = 1 << 0;
constexpr uint8_t smExclusive = 1 << 1;
constexpr uint8_t smDenyWrite = 1 << 2;
constexpr uint8_t smDenyRead = 1 << 3;
constexpr uint8_t smDenyNone = 1 << 4;
constexpr uint8_t smDenyNone2 = 1 << 5;

// Opens path with the first access mode set among read, write, read-write; -1 when none is set or the open
// fails. Exclusive and deny-read take an exclusive lock, deny-write a shared lock, both without waiting: a file
// locked against the request gives -1.
int32_t OpenFileEx(const QString& path, uint8_t access, uint8_t creation, uint8_t share);
// Opens a regular file for reading with writing denied to others (a shared lock, not waited for), and never
// blocks: a FIFO, a device or a folder at the path is refused without being opened for reading. -1 with `why`
// (when given) saying what is wrong: "does not exist", "cannot be read: Permission denied", "is not a regular
// file (a FIFO)", "is locked by a writer".
int32_t OpenRegularFileShared(const QString& path, QString* why = nullptr);
int64_t LSeekFile(int32_t handle, int64_t offset, int origin);
int64_t LReadFile(int32_t handle, void* buffer, int64_t count);
int64_t LWriteFile(int32_t handle, const void* buffer, int64_t count);
// Closes a handle above 0 (0 or -1 result) and always sets the variable to -1.
int32_t LCloseFile(int32_t& handle);

// Both search GBK text by characters: a trail byte that equals the separator or '/' is no hit.
// Text before the first separator, blanks (0x00..0x20) trimmed; empty when the separator does not occur.
QByteArray TextBeforeChar(const QByteArray& text, char separator);
// Text after the first separator and before the first "//" of the text, blanks trimmed; empty when the separator
// does not occur or "//" comes first.
QByteArray TextAfterChar(const QByteArray& text, char separator);
// A text for one log line: control characters (C0, DEL, C1 and the Unicode line and paragraph separators) written
// as \xNN or \uNNNN, so a title with a line break stays on its line in the log panel and the debug log.
QString EscapeControls(const QString& text);
// Removes bytes 0x00..0x20 at both ends.
QByteArray TrimBlanks(const QByteArray& text);
