// SPDX-License-Identifier: MIT
// The settings-file reader on arbitrary bytes: parsing, every look-up and the integer rules must hold for any
// input, and a value that parses must print back to the same number.
#include "GbkCodec.h"
#include "SmtpIni.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const TProfileFile ini = TProfileFile::fromBytes(bytes);
    for (const char* key : {"smtpaddr", "smtpport", "NeedAuth", "Password", "SSL", "CAFile"}) {
        (void)ini.readString("SMTP", key, QString());
        (void)ini.readInteger("smtp", key, 25);
        (void)ini.readBool("Smtp", key, false);
        if (const auto raw = ini.rawValue("SMTP", key)) {
            TSmtpSettings s{};
            Gbk::storeFieldBytes(s.smtpaddr, *raw);
            if (s.smtpaddr[sizeof(s.smtpaddr) - 1] != '\0') {
                std::abort();
            }
        }
    }
    // The integer rules on the raw input: a decimal result must round-trip.
    if (const auto n = TProfileFile::parseInteger(bytes)) {
        const bool hex = bytes.contains('$') || bytes.contains('x') || bytes.contains('X');
        if (!hex && TProfileFile::parseInteger(QByteArray::number(*n)) != n) {
            std::abort();
        }
    }
    return 0;
}
