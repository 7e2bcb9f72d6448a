// SPDX-License-Identifier: MIT
#include "StationLog.h"

Q_LOGGING_CATEGORY(lcStation, "qorsmail.station", QtWarningMsg)
