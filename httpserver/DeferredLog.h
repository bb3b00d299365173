// The HTTP workers' log lines, gathered per thread and written in one piece.
// A request logs five or six lines; written one by one, each is a write to
// the log and a turn at the stdout lock shared by all workers. The text of
// every line is unchanged, and a batch is always written before the thread
// blocks (waiting for input or at its gate) and before a handler runs, so
// no line waits behind something slow and a handler's own lines still come
// after the request line that caused them.
#pragma once

#include <string_view>

namespace Kelm {

void DeferLog(std::string_view text);
void FlushDeferredLog();

}  // namespace Kelm
