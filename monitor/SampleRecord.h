// The 16-byte record of a sample file: time, status, connect seconds and
// router address, each four bytes, least significant byte first on every
// machine. The decoder takes the bytes in pieces of any size (a block read
// may end inside a record) and keeps the piece of a record it was left with.
//
// A record of sixteen zero bytes is never a sample (no poll ran in 1970):
// it is what a crash can leave at the end of a file, and the decoder skips it.
#pragma once

#include <cstddef>
#include <vector>

#include "monitor/PollSample.h"

namespace Kelm {

constexpr size_t SAMPLE_RECORD_SIZE = 16;

void EncodeSample(const PollSample& sample, unsigned char* record);
bool IsEmptyRecord(const unsigned char* record);

class SampleDecoder {
public:
    // Appends the samples of every record these bytes complete.
    void Feed(const unsigned char* bytes, size_t count, std::vector<PollSample>& out);
    // Bytes of an unfinished record held back; at the end of a file they are
    // a torn tail and ignored.
    size_t GetPartialBytes() const { return m_partialCount; }

private:
    unsigned char m_partial[SAMPLE_RECORD_SIZE] = {};
    size_t m_partialCount = 0;
};

}  // namespace Kelm
