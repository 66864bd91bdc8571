#pragma once

#include <cstdint>

namespace tarnwick::platform {

// The source of time for days, stamps and time-outs. Tests install a fixed clock.
class Clock {
public:
    virtual ~Clock() = default;
    // Current UTC time in milliseconds since 1970-01-01.
    virtual std::int64_t utcMillis() const = 0;
    // Present difference local time minus UTC, in seconds (east of Greenwich is positive).
    virtual int utcOffsetSeconds() const = 0;
    // Monotonic milliseconds for time-outs and the flow log's tick count.
    virtual std::uint64_t tickMillis() const = 0;
};

class SystemClock final : public Clock {
public:
    std::int64_t utcMillis() const override;
    int utcOffsetSeconds() const override;
    std::uint64_t tickMillis() const override;
};

// The clock in use: the system clock unless a test installed another.
const Clock& clock();
// Installs `c` (not owned); nullptr goes back to the system clock.
void setClock(const Clock* c);

// A clock that stands still at the time it is given; for tests and demos.
class FixedClock final : public Clock {
public:
    FixedClock(std::int64_t utcMillis, int utcOffsetSeconds) : m_utc(utcMillis), m_offset(utcOffsetSeconds) {}
    std::int64_t utcMillis() const override { return m_utc; }
    int utcOffsetSeconds() const override { return m_offset; }
    std::uint64_t tickMillis() const override { return static_cast<std::uint64_t>(m_utc); }
    void set(std::int64_t utcMillis) { m_utc = utcMillis; }
    void setOffset(int seconds) { m_offset = seconds; }

private:
    std::int64_t m_utc;
    int m_offset;
};

} // namespace tarnwick::platform
