// SPDX-License-Identifier: MIT
// The mark file's reader on arbitrary bytes: it never reads outside the input, and whatever it accepts it writes
// back to the very same bytes (a file of an older version is written in the current one, and that reads back to
// the same entries).
#include "TaskMarkFile.h"

#include <QtEndian>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString why;
    const auto entries = TaskMarkFile::decode(bytes, &why);
    if (entries) {
        const QByteArray written = TaskMarkFile::encode(*entries);
        // After the magic, which decode checked.
        const uint32_t version = qFromLittleEndian<uint32_t>(bytes.constData() + 8);
        if (version == TaskMarkFile::Version) {
            if (written != bytes) {
                std::abort();
            }
        } else {
            QString again;
            const auto reread = TaskMarkFile::decode(written, &again);
            if (!reread || TaskMarkFile::encode(*reread) != written) {
                std::abort();
            }
        }
    } else if (why.isEmpty()) {
        std::abort();
    }
    return 0;
}
