// SPDX-License-Identifier: MIT
// The task-file reader over arbitrary bytes: whatever it is given, the tables stay consistent, every record it
// keeps is the file's own bytes at that record's place, and a failure always says why. The same bytes as a file,
// read the way the station reads its task file (through a handle, in blocks, every byte shown to the digest),
// give the same tables and the same message, and the digest sees the bytes in file order. The address book it
// reads is then searched with lines taken from the same input.

#include "GbkCodec.h"
#include "QorsmailDef.h"
#include "QorsmailFunc.h"

#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void check(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

// The input as a file in memory, read by the handle reader; false when no such file can be made here.
bool readThroughHandle(const QByteArray& bytes, TMailTables& tables, QString& error, QByteArray& seen)
{
    static const int fd = ::memfd_create("taskfile", MFD_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, bytes.constData(), size_t(bytes.size()), 0) != bytes.size()
        || ::lseek(fd, 0, SEEK_SET) != 0) {
        return false;
    }
    SetTaskDefaults(tables);
    LoadTaskFileFromHandle(tables, fd, &error, [&seen](const char* b, int64_t n) { seen.append(b, qsizetype(n)); });
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TMailTables tables;
    SetTaskDefaults(tables);
    QString error;
    const bool ok = LoadTaskFileBytes(tables, bytes, &error);
    check(ok == error.isEmpty());
    check(tables.EventTasks.count() == tables.EventTaskCount());

    TMailTables fromFile;
    QString fileError;
    QByteArray seen;
    if (readThroughHandle(bytes, fromFile, fileError, seen)) {
        check(fileError == error);
        check(TaskFileBytes(fromFile) == TaskFileBytes(tables));
        check(bytes.startsWith(seen));
    }

    // What was kept is exactly the file's bytes: a complete load gives the input up to its last record, and
    // after any failure the address book entries kept are the file's entries at their places.
    if (ok) {
        check(bytes.startsWith(TaskFileBytes(tables)));
    }
    const size_t bookAt = 4 + sizeof(TSmtpSettings) + 4;
    for (size_t i = 0; i < tables.AddrBook.size(); ++i) {
        check(bookAt + (i + 1) * sizeof(TMailAddr) <= size);
        check(std::memcmp(&tables.AddrBook[i], data + bookAt + i * sizeof(TMailAddr), sizeof(TMailAddr)) == 0);
    }

    // Every count inside a record is used only through ClampCount.
    for (int i = 0; i < tables.EventTaskCount(); ++i) {
        const TEventMailTask& t = tables.EventTasks.task(i);
        check(ClampCount(t.TypeCount, MaxEventTypes) <= MaxEventTypes);
        check(ClampCount(t.ReceiverCount, MaxReceivers) <= MaxReceivers);
    }

    // Lines from the input, looked up in the book the input gave.
    QStringList lines;
    const QString text = Gbk::decode(bytes.left(4096));
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        lines << line;
        if (lines.size() > 120) {
            break;
        }
    }
    TMailAddr dest[MaxReceivers];
    std::memset(dest, 0, sizeof(dest));
    const int stored = ParseRecipients(tables, dest, 100, lines);
    check(stored >= -1 && stored <= MaxReceivers);
    for (int i = 0; i < (stored > 0 ? stored : 0); ++i) {
        check(std::memchr(dest[i].Name, 0, sizeof(dest[i].Name)) != nullptr);
        check(std::memchr(dest[i].Addr, 0, sizeof(dest[i].Addr)) != nullptr);
    }
    if (!tables.AddrBook.empty()) {
        // The first entry is always found by its own name (a name without NUL is its 40 bytes).
        const TMailAddr& first = tables.AddrBook.front();
        check(FindAddrByNameBytes(tables, Gbk::fieldBytes(first.Name)) == Gbk::fieldBytes(first.Addr));
    }
    return 0;
}
