// Every sample of one server: in memory for the life of the process, and in
// the server's data file "v1.0-" + name + "-" + port + ".dat" in the data
// folder, a headerless run of 16-byte little-endian records (time, status,
// connect seconds, router address). New samples are appended in batches of
// 11; the file is read once, on the first range query.
//
// The store keeps its own copy of the server's name and port, so it stays
// usable after the server is deleted.
#pragma once

#include <string>
#include <vector>

#include "concurrency/Mutex.h"
#include "concurrency/TimeRange.h"
#include "foundation/Shareable.h"
#include "monitor/PollSample.h"

namespace Kelm {

class ServerData : public Shareable {
public:
    ServerData(const std::string& name, int port);
    ~ServerData() override;

    // False when a due write could not open or write the file; the pending
    // samples then stay pending for the next try.
    bool AddSample(const PollSample& sample);
    // The run of samples with start <= time < end, in stored order.
    void GetSamples(const TimeRange& range, std::vector<PollSample>& out);
    // Writes every pending sample now (the orderly stop); true when none is
    // left pending.
    bool Flush();

    std::string GetPath() const;
    // The data file's name (without folder) for a server.
    static std::string FileName(const std::string& name, int port);

private:
    const std::string m_name;
    const int m_port;
    Mutex m_mutex;  // guards the fields below and the data file
    std::vector<PollSample> m_samples KELM_GUARDED_BY(m_mutex);
    int m_unsaved KELM_GUARDED_BY(m_mutex) = 0;
    bool m_loaded KELM_GUARDED_BY(m_mutex) = false;
    // The array is in ascending time order (equal times allowed): a range
    // query may then search for its start instead of walking to it.
    bool m_inOrder KELM_GUARDED_BY(m_mutex) = true;

    bool WritePending() KELM_REQUIRES(m_mutex);
    void ReadFile() KELM_REQUIRES(m_mutex);
};

}  // namespace Kelm
