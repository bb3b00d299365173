// The orderly stop. SIGTERM and SIGINT are taken by one watcher thread
// (sigwait), never by a signal handler, so what runs at the stop may lock
// and write files like any other code: it saves what must not be lost, logs
// "Farview stopping." and ends the process with status 0.
#pragma once

#include <functional>

namespace Kelm {

// Blocks SIGTERM and SIGINT and ignores SIGPIPE for the whole process. Call
// first in main, before any thread exists, so every thread inherits the mask.
void PrepareSignals();

// Starts the watcher; beforeExit runs on it when a stop signal arrives.
void WatchStopSignals(std::function<void()> beforeExit);

// The daemon's whole stop set-up, first thing in main: the signals above, a
// line-buffered log, and a watcher that writes every store's pending samples
// before the exit.
void PrepareOrderlyStop();

}  // namespace Kelm
