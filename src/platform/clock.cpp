#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <ctime>

namespace tarnwick::platform {

std::int64_t SystemClock::utcMillis() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int SystemClock::utcOffsetSeconds() const
{
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return static_cast<int>(local.tm_gmtoff);
}

std::uint64_t SystemClock::tickMillis() const
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

namespace {
const SystemClock k_system;
std::atomic<const Clock*> g_clock{&k_system};
} // namespace

const Clock& clock()
{
    return *g_clock.load(std::memory_order_acquire);
}

void setClock(const Clock* c)
{
    g_clock.store(c ? c : &k_system, std::memory_order_release);
}

} // namespace tarnwick::platform
