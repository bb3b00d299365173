// The plain-text log on standard output. There are no levels and no time
// stamps; every component writes whole lines with its own fixed prefix.
//
// Log() hands its text to stdio in one call, so lines written by different
// threads never interleave inside a line. Build a line first, then log it.
#pragma once

#include <string>
#include <string_view>

namespace Kelm {

void Log(std::string_view text);

// printf-style, for the ICMP layer whose messages are format strings.
void LogF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Makes every logged line reach the file or pipe at once (daemon start-up).
void SetLogLineBuffered();

}  // namespace Kelm
