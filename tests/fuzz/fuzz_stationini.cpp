// SPDX-License-Identifier: MIT
// The station's own settings file on arbitrary bytes: reading never fails, and a save that changes every value
// gives a file that reads back exactly those values, with the rest of the file as it was.
#include "StationSettings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QStringList problems;
    const TStationSettings loaded = ParseStationSettings(bytes, QStringLiteral("f"), problems);

    TStationSettings wanted;
    wanted.smtpTls = TStationTls::Implicit;
    wanted.smtpCaFile = QStringLiteral(" /ca \"x\" ");
    wanted.fallback = {QStringLiteral("relay.example"), 2525, TStationTls::StartTls, QStringLiteral("'u'"), {}};
    wanted.fallback.password = QString::fromUtf8("\"密;码 ");
    wanted.health.recipients = {QStringLiteral("a@b.example"), QStringLiteral("c@d.example")};
    wanted.health.everyHours = 6;
    wanted.notices.giveUp = true;
    wanted.notices.missingReport = true;
    QByteArray updated;
    QString error;
    if (!UpdateStationSettingsText(bytes, wanted, updated, error)) {
        std::abort(); // none of these values holds a line break
    }
    QStringList after;
    const TStationSettings read = ParseStationSettings(updated, QStringLiteral("f"), after);
    // A key the input held with the wanted value stayed as it was and reads so; every other one was written.
    if (!after.isEmpty() || !(read == wanted)) {
        std::abort();
    }
    // Writing what was read changes nothing.
    QByteArray same;
    if (!UpdateStationSettingsText(bytes, loaded, same, error) || same != bytes) {
        std::abort();
    }
    return 0;
}
