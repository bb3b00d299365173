// Internal invariants. A failed assertion prints the source file, the line and
// the expression in one fixed layout on standard error and stops the process:
// these guard programming errors, never input, so there is nothing to recover.
#pragma once

namespace Kelm {

[[noreturn]] void AssertionFailed(const char* file, unsigned line, const char* expression);

}  // namespace Kelm

// Always on, also in release builds: an invariant that fails in the field is
// worth a stop with a clear line rather than corrupted samples.
#define KELM_ASSERT(expression) \
    ((expression) ? static_cast<void>(0) : ::Kelm::AssertionFailed(__FILE__, __LINE__, #expression))
