#include "foundation/Log.h"

#include <cstdarg>
#include <cstdio>

namespace Kelm {

void Log(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void LogF(const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0) return;
    if (static_cast<size_t>(length) >= sizeof buffer) length = sizeof buffer - 1;
    std::fwrite(buffer, 1, static_cast<size_t>(length), stdout);
}

void SetLogLineBuffered()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

}  // namespace Kelm
