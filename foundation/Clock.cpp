#include "foundation/Clock.h"

#include <atomic>
#include <ctime>
#include <mutex>

namespace Kelm {

namespace {

std::mutex s_clockMutex;
std::function<uint32_t()> s_clock;  // guarded by s_clockMutex
std::atomic<bool> s_clockReplaced{false};

}  // namespace

uint32_t CurrentSeconds()
{
    // The common case reads no lock: the flag is only set by tests.
    if (s_clockReplaced.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(s_clockMutex);
        if (s_clock) return s_clock();
    }
    return static_cast<uint32_t>(std::time(nullptr));
}

void SetClockForTesting(std::function<uint32_t()> clock)
{
    std::lock_guard<std::mutex> lock(s_clockMutex);
    s_clock = std::move(clock);
    s_clockReplaced.store(static_cast<bool>(s_clock), std::memory_order_release);
}

}  // namespace Kelm
