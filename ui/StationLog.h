// SPDX-License-Identifier: MIT
#pragma once

// Diagnostics of the station's own start-up and window handling, off unless Qt's logging rules enable them
// (QT_LOGGING_RULES="qorsmail.station.info=true"); the start-up benchmark and the end-to-end tests read them.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcStation)
