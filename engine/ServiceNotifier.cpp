// SPDX-License-Identifier: MIT
#include "ServiceNotifier.h"

#include <systemd/sd-daemon.h>

void TSystemdNotifier::notify(const QByteArray& message)
{
    // Without NOTIFY_SOCKET this does nothing and returns 0; a failed send changes nothing for the station.
    sd_notify(0, message.constData());
}

std::chrono::microseconds TSystemdNotifier::watchdogPeriod() const
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0) {
        return std::chrono::microseconds(0);
    }
    return std::chrono::microseconds(static_cast<int64_t>(usec));
}
