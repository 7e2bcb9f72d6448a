// SPDX-License-Identifier: MIT
// The mark file's reader on arbitrary bytes: it never reads outside the input, and whatever it accepts it writes
// back to the very same bytes.
#include "TaskMarkFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString why;
    const auto entries = TaskMarkFile::decode(bytes, &why);
    if (entries) {
        if (TaskMarkFile::encode(*entries) != bytes) {
            std::abort();
        }
    } else if (why.isEmpty()) {
        std::abort();
    }
    return 0;
}
