// One request on one connection: read it whole, pick out the method, the
// target and the args, then hand it to the handler registered for the
// target's extension or send the allowlisted file it names. Every answer,
// an error too, is a full HTTP/1.0 answer; the caller closes the connection.
#pragma once

#include <chrono>

#include "net/Socket.h"

namespace Kelm {

// Send and receive time-out of a served connection, and the time the whole
// request has to arrive, counted from the hand-over.
constexpr int REQUEST_SECONDS = 10;

// The socket's time-outs are the caller's to set (the accept loop's
// connections inherit them from the listening socket). The log lines are
// gathered on the calling thread (DeferredLog.h); the caller writes what is
// left with FlushDeferredLog.
void ProcessRequest(Socket& socket, std::chrono::steady_clock::time_point deadline);

}  // namespace Kelm
