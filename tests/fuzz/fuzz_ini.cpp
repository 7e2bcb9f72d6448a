// SPDX-License-Identifier: MIT
// The settings-file reader on arbitrary bytes: parsing, every look-up and the integer rules must hold for any
// input, a value that parses must print back to the same number, and the settings the station takes from the
// file (the same reading as at start-up) stay within what each field can hold.
#include "GbkCodec.h"
#include "QorsmailFunc.h"
#include "SmtpIni.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

template <size_t N>
bool terminated(const char (&field)[N])
{
    return std::memchr(field, 0, N) != nullptr;
}

} // namespace

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
            check(s.smtpaddr[sizeof(s.smtpaddr) - 1] == '\0');
        }
    }

    // What the station makes of the file: a port it can use, a wait that is not negative, flags 0 or 1, texts
    // that end inside their fields; whatever the file holds, a value out of range leaves the one before.
    TMailTables tables;
    SetTaskDefaults(tables);
    tables.SmtpSettings.smtpport = 2525;
    tables.SmtpSettings.WaitSeconds = 7;
    tables.UseSSL = 2; // a value no key gives, to tell "left alone"
    ApplySmtpIni(tables, ini);
    const TSmtpSettings& s = tables.SmtpSettings;
    check(s.smtpport >= 1 && s.smtpport <= 65535);
    check(s.WaitSeconds >= 0);
    check(s.NeedAuth <= 1 && tables.StartTLS <= 1);
    check(tables.UseSSL <= 1
        || (tables.UseSSL == 2 && !TProfileFile::parseInteger(ini.rawValue("SMTP", "SSL").value_or(""))));
    check(terminated(s.smtpaddr) && terminated(s.LocalEmailAddr) && terminated(s.Username) && terminated(s.Password));
    if (const auto port = ini.rawValue("SMTP", "smtpport")) {
        const auto n = TProfileFile::parseInteger(*port);
        check(s.smtpport == (n && *n >= 1 && *n <= 65535 ? *n : 2525));
    }

    // The integer rules on the raw input: a decimal result must round-trip.
    if (const auto n = TProfileFile::parseInteger(bytes)) {
        const bool hex = bytes.contains('$') || bytes.contains('x') || bytes.contains('X');
        check(hex || TProfileFile::parseInteger(QByteArray::number(*n)) == n);
    }
    return 0;
}
