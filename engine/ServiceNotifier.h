// SPDX-License-Identifier: MIT
#pragma once

// What the station tells the service manager that started it (systemd's notify protocol): READY=1 once its
// tables are read and the ring's condition is known, WATCHDOG=1 while its tick comes round, STATUS= a short text,
// STOPPING=1 when it shuts down. Started by hand (no NOTIFY_SOCKET), the station tells nobody anything.

#include <QByteArray>
#include <chrono>

class TServiceNotifier
{
public:
    virtual ~TServiceNotifier() = default;
    // One message of the protocol ("READY=1", "STATUS=...", several joined by '\n').
    virtual void notify(const QByteArray& message) = 0;
    // The period the service manager expects WATCHDOG=1 within; zero when it watches nothing.
    virtual std::chrono::microseconds watchdogPeriod() const = 0;
};

// libsystemd's sd_notify and sd_watchdog_enabled (which takes WATCHDOG_USEC only when WATCHDOG_PID, where set,
// names this process).
class TSystemdNotifier : public TServiceNotifier
{
public:
    void notify(const QByteArray& message) override;
    std::chrono::microseconds watchdogPeriod() const override;
};
