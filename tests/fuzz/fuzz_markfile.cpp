// SPDX-License-Identifier: MIT
// The mark file's reader on arbitrary bytes: it never reads outside the input, and whatever it accepts it writes
// back to the very same bytes (a file of an older version is written in the current one, and that reads back to
// the same entries). Each input is read twice: as it comes, so the checksum's own check is fuzzed, and with its
// last eight bytes replaced by the checksum that fits the rest, so a mutation reaches the entries instead of
// failing at the checksum every time.
#include "TaskMarkFile.h"

#include <QtEndian>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(const QByteArray& bytes)
{
    QString why;
    const auto entries = TaskMarkFile::decode(bytes, &why);
    if (!entries) {
        if (why.isEmpty()) {
            std::abort();
        }
        return;
    }
    const QByteArray written = TaskMarkFile::encode(*entries);
    // After the magic, which decode checked.
    const uint32_t version = qFromLittleEndian<uint32_t>(bytes.constData() + 8);
    if (version == TaskMarkFile::Version) {
        if (written != bytes) {
            std::abort();
        }
        return;
    }
    QString again;
    const auto reread = TaskMarkFile::decode(written, &again);
    if (!reread || TaskMarkFile::encode(*reread) != written) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    check(bytes);
    // Magic, version and count come before the checksum in the shortest file.
    if (bytes.size() < 24) {
        return 0;
    }
    QByteArray sealed = bytes;
    const auto body = static_cast<size_t>(sealed.size() - 8);
    const uint64_t sum = qToLittleEndian(TaskMarkFile::checksumOf(sealed.constData(), body));
    std::memcpy(sealed.data() + body, &sum, sizeof sum);
    if (sealed != bytes) {
        check(sealed);
    }
    return 0;
}
