// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

// The two task tables: event mail tasks and report mail tasks.
enum class TTaskKind : uint8_t
{
    Event = 0,
    Report = 1,
};
