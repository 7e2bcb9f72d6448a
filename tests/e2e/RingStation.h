// SPDX-License-Identifier: MIT
#pragma once

// One station on its own working directory, whose ring the test also writes, with its own SMTP test server.

#include "SmtpTestServer.h"
#include "StationFiles.h"
#include "StationProcess.h"
#include "TempWorkDir.h"

struct TRingStationBase
{
    TStationLock lock;
    TTempWorkDir dir;
    TStationFiles files;
    SmtpTest::SmtpTestServer server;
    TStation station{dir.path()};

    // Writes the task file and the settings file, starts the server and the station.
    bool start()
    {
        if (dir.initResult() != 0 || !server.start() || !files.write(dir.path(), server.port())) {
            return false;
        }
        station.start();
        return station.waitForWindow();
    }
};
