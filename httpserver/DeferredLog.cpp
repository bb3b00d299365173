// Per-thread batches of log lines; see DeferredLog.h.
#include "httpserver/DeferredLog.h"

#include <string>

#include "foundation/Log.h"

namespace Kelm {

namespace {

thread_local std::string t_pending;

}  // namespace

void DeferLog(std::string_view text)
{
    t_pending.append(text);
}

void FlushDeferredLog()
{
    if (t_pending.empty()) return;
    Log(t_pending);
    t_pending.clear();
}

}  // namespace Kelm
