// The one reading of "now" in whole seconds since the epoch. Everything that
// asks for the current time (Time's default constructor, and through it
// periods, poll grids, route and check ages) goes through here, so tests can
// put the clock where they need it instead of waiting for real seconds.
#pragma once

#include <cstdint>
#include <functional>

namespace Kelm {

uint32_t CurrentSeconds();

// Replaces the clock for the whole process; an empty function restores the
// system clock. For tests only: set it before the threads that read it start.
void SetClockForTesting(std::function<uint32_t()> clock);

}  // namespace Kelm
