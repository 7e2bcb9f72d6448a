// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <optional>

// Reads a password without echo from the controlling terminal (asked twice when confirm is set), or as the
// first line of standard input. nullopt with the reason in *error when there is none to read.
std::optional<QString> ReadPasswordFromTerminal(const QString& prompt, bool confirm, QString* error);
std::optional<QString> ReadPasswordFromStdin(QString* error);
