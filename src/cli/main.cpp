#include "cli/run.h"
#include "platform/clock.h"
#include "platform/terminal.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

// The system clock moved on by whole days: TARNWICK_DAYS_AHEAD lets a demo or a
// test play the days after today without waiting for them.
class DaysAheadClock final : public tarnwick::platform::Clock {
public:
    explicit DaysAheadClock(long days) : m_shift(static_cast<std::int64_t>(days) * 86400000) {}
    std::int64_t utcMillis() const override { return m_system.utcMillis() + m_shift; }
    int utcOffsetSeconds() const override { return m_system.utcOffsetSeconds(); }
    std::uint64_t tickMillis() const override { return m_system.tickMillis(); }

private:
    tarnwick::platform::SystemClock m_system;
    std::int64_t m_shift;
};

// A command whose output could not be written (a full disk, a closed pipe) has failed, whatever it did.
int checkedOutput(int code)
{
    if (const tarnwick::platform::Result flushed = tarnwick::platform::flushStandardOutput(); !flushed) {
        std::cerr << "tarnwick-cli: cannot write standard output: " << flushed.systemText() << "\n";
        return 1;
    }
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    const tarnwick::platform::TerminalStreams terminal;
    static std::unique_ptr<DaysAheadClock> shifted;
    if (const char* days = std::getenv("TARNWICK_DAYS_AHEAD"); days && *days) {
        shifted = std::make_unique<DaysAheadClock>(std::strtol(days, nullptr, 10));
        tarnwick::platform::setClock(shifted.get());
    }
    return checkedOutput(tarnwick::cli::runProcess(std::vector<std::string>(argv + 1, argv + argc)));
}
