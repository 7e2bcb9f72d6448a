// SPDX-License-Identifier: MIT
#pragma once

// Plant-like events for demos and soak tests: a substation's devices, the suite's event types and levels, and
// Chinese texts of the kind its front ends log.

#include <QString>
#include <cstdint>
#include <random>

struct TGeneratedEvent
{
    int32_t Type;
    int32_t Level;
    QString Text;
};

class TEventGenerator
{
public:
    explicit TEventGenerator(uint32_t seed = std::random_device{}());
    TGeneratedEvent next();

private:
    std::mt19937 m_rng;
    uint32_t m_serial = 0;
};
