// SPDX-License-Identifier: MIT
#pragma once

// The one QCoreApplication of a test program that needs an event loop (timers, queued calls, nested loops).
// Made on first use and kept to the end: Qt allows one per process and tests run in any order.

#include <QCoreApplication>

inline QCoreApplication* coreTestApp()
{
    static int argc = 1;
    static char name[] = "qorsmail-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return instance;
}
