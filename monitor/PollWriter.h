// Where a poll thread hands its sample: an abstract sink, so the poll loop
// does not know about stores and files, and the application's sink, which
// appends the sample to the server's store in the registry.
#pragma once

#include "foundation/Shareable.h"
#include "monitor/PollSample.h"
#include "monitor/Server.h"

namespace Kelm {

class PollWriter : public Shareable {
public:
    ~PollWriter() override = default;
    virtual bool Write(const SharedPtr<Server>& server, const PollSample& sample) = 0;
};

// Appends to the server's ServerData. A server deleted while its poll ran has
// no store any more: the registry logs that and the sample is dropped.
class PollWriterApp : public PollWriter {
public:
    bool Write(const SharedPtr<Server>& server, const PollSample& sample) override;
};

}  // namespace Kelm
