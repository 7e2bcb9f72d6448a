// SPDX-License-Identifier: MIT
#include "EngineLog.h"

Q_LOGGING_CATEGORY(lcEngine, "qorsmail.engine", QtWarningMsg)
