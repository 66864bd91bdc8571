#pragma once

#include "platform/clock.h"

#include <cstdint>

namespace tarnwick::test {

// A clock that stands still, in use from the object's start to its end; then the system clock is back.
class ClockScope {
public:
    ClockScope(std::int64_t utcMillis, int utcOffsetSeconds) : m_clock(utcMillis, utcOffsetSeconds)
    {
        platform::setClock(&m_clock);
    }
    ~ClockScope() { platform::setClock(nullptr); }
    ClockScope(const ClockScope&) = delete;
    ClockScope& operator=(const ClockScope&) = delete;

    // The clock in use, to move it on or to another zone.
    platform::FixedClock& clock() { return m_clock; }

private:
    platform::FixedClock m_clock;
};

} // namespace tarnwick::test
