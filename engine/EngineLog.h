// SPDX-License-Identifier: MIT
#pragma once

// Diagnostics of the engine, off by default (QT_LOGGING_RULES="qorsmail.engine.info=true"): one line per event
// read, which the end-to-end tests and storm measurements read.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcEngine)
