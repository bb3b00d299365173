// The assertion line: "file:line: failed assertion `expression'".
#include "foundation/Assert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Kelm {

void AssertionFailed(const char* file, unsigned line, const char* expression)
{
    // Report the file by its own name, not the build machine's full path.
    const char* slash = std::strrchr(file, '/');
    const char* name = slash ? slash + 1 : file;
    std::fflush(stdout);
    std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", name, line, expression);
    std::fflush(stderr);
    std::abort();
}

}  // namespace Kelm
