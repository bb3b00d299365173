// Encoding and decoding of sample records; see SampleRecord.h.
#include "monitor/SampleRecord.h"

#include <cstdint>
#include <cstring>

namespace Kelm {

namespace {

void PutLittleEndian(uint32_t value, unsigned char* bytes)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

uint32_t GetLittleEndian(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Appends the sample of one whole record, unless it is an empty one.
void DecodeRecord(const unsigned char* record, std::vector<PollSample>& out)
{
    if (IsEmptyRecord(record)) return;
    PollSample sample;
    sample.m_time = Time(GetLittleEndian(record));
    sample.m_status = static_cast<int>(GetLittleEndian(record + 4));
    sample.m_connectSeconds = static_cast<int>(GetLittleEndian(record + 8));
    sample.m_routerAddress = GetLittleEndian(record + 12);
    out.push_back(sample);
}

}  // namespace

void EncodeSample(const PollSample& sample, unsigned char* record)
{
    PutLittleEndian(sample.m_time.GetSeconds(), record);
    PutLittleEndian(static_cast<uint32_t>(sample.m_status), record + 4);
    PutLittleEndian(static_cast<uint32_t>(sample.m_connectSeconds), record + 8);
    PutLittleEndian(sample.m_routerAddress, record + 12);
}

bool IsEmptyRecord(const unsigned char* record)
{
    static const unsigned char ZERO[SAMPLE_RECORD_SIZE] = {};
    return std::memcmp(record, ZERO, SAMPLE_RECORD_SIZE) == 0;
}

void SampleDecoder::Feed(const unsigned char* bytes, size_t count, std::vector<PollSample>& out)
{
    // First complete the record an earlier piece ended inside.
    if (m_partialCount > 0) {
        size_t take = SAMPLE_RECORD_SIZE - m_partialCount;
        if (take > count) take = count;
        std::memcpy(m_partial + m_partialCount, bytes, take);
        m_partialCount += take;
        bytes += take;
        count -= take;
        if (m_partialCount < SAMPLE_RECORD_SIZE) return;
        DecodeRecord(m_partial, out);
        m_partialCount = 0;
    }
    for (; count >= SAMPLE_RECORD_SIZE; bytes += SAMPLE_RECORD_SIZE, count -= SAMPLE_RECORD_SIZE) {
        DecodeRecord(bytes, out);
    }
    if (count > 0) std::memcpy(m_partial, bytes, count);
    m_partialCount = count;
}

}  // namespace Kelm
