// The sample store of one server. Invariants, under the store's mutex:
//
// - m_samples holds every known sample in the order added; its last
//   m_unsaved entries are not yet in the data file, all earlier ones are
//   (once the file has been read, the array starts with the file's records).
// - The file only ever holds whole 16-byte records followed by nothing: an
//   append first cuts a torn tail or empty (all-zero) records a crash left,
//   and a batch that could not be written completely is cut back out and
//   stays pending, so a record is in the file exactly once.
//
// Appends go through File in binary mode and end with an fsync, so a batch
// that was reported written survives a crash. While appending, the store
// also holds an flock on the file: a server deleted and added again has two
// stores for one file for a moment, and their batches must not interleave.
#include "monitor/ServerData.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/File.h"
#include "foundation/Locations.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"
#include "monitor/SampleRecord.h"

namespace Kelm {

namespace {

// More pending samples than this are written out: every 11th sample.
constexpr int MAX_PENDING = 10;
// The file is read in blocks this large: a year of one server (4.2 MB) in a
// handful of reads.
constexpr size_t READ_BLOCK = 1 << 20;

// Cuts what follows the last whole, non-empty record of the open data file.
// Returns the length kept, or -1 when the file is not a regular file or
// cannot be examined (then nothing is cut).
off_t CutDamagedTail(int descriptor, const std::string& path)
{
    struct stat info;
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    const off_t size = info.st_size;
    const off_t record = static_cast<off_t>(SAMPLE_RECORD_SIZE);
    off_t kept = size - size % record;

    // Walk back over empty records, a block at a time.
    unsigned char block[4096];
    while (kept > 0) {
        off_t chunk = std::min<off_t>(kept, sizeof block);
        if (pread(descriptor, block, static_cast<size_t>(chunk), kept - chunk) != chunk) break;
        off_t end = chunk;
        while (end >= record && IsEmptyRecord(block + end - record)) end -= record;
        kept -= chunk - end;
        if (end > 0) break;
    }

    if (kept != size) {
        if (ftruncate(descriptor, kept) != 0) {
            Log("SERVER DATA: ftruncate of " + path + " failed: " + std::strerror(errno) + "\n");
            return -1;
        }
        Log("SERVER DATA: Cut " + ToString(static_cast<unsigned>(size - kept)) +
            " bytes of a torn or empty tail from " + path + "\n");
    }
    return kept;
}

}  // namespace

ServerData::ServerData(const std::string& name, int port) : m_name(name), m_port(port) {}

// Pending samples are not written here: the last reference may be dropped
// under the registry's mutex, which must never be held with a store's.
ServerData::~ServerData() = default;

std::string ServerData::FileName(const std::string& name, int port)
{
    return "v1.0-" + name + "-" + ToString(port) + ".dat";
}

std::string ServerData::GetPath() const
{
    return GetDataFolder() + FileName(m_name, m_port);
}

bool ServerData::AddSample(const PollSample& sample)
{
    MutexLocker locker(m_mutex);
    if (!m_samples.empty() && sample.m_time < m_samples.back().m_time) m_inOrder = false;
    m_samples.push_back(sample);
    ++m_unsaved;
    if (m_unsaved <= MAX_PENDING) return true;

    Log("WRITING samples to disk for " + m_name + "\n");
    return WritePending();
}

bool ServerData::Flush()
{
    MutexLocker locker(m_mutex);
    if (m_unsaved == 0) return true;
    Log("WRITING samples to disk for " + m_name + "\n");
    return WritePending();
}

bool ServerData::WritePending()
{
    const std::string path = GetPath();

    // Held until the batch is in the file (closing the descriptor unlocks).
    int guard = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
    off_t kept = -1;
    if (guard >= 0) {
        while (flock(guard, LOCK_EX) != 0 && errno == EINTR) {
        }
        kept = CutDamagedTail(guard, path);
    }

    bool written = false;
    File file(false, false);
    if (!file.OpenWrite(path, FILE_VERSION, true, false, false)) {
        Log("WRITING FAILED to open file " + path + "\n");
    } else {
        std::vector<unsigned char> bytes(static_cast<size_t>(m_unsaved) * SAMPLE_RECORD_SIZE);
        size_t first = m_samples.size() - static_cast<size_t>(m_unsaved);
        for (size_t i = 0; i < static_cast<size_t>(m_unsaved); ++i) {
            EncodeSample(m_samples[first + i], bytes.data() + i * SAMPLE_RECORD_SIZE);
        }
        written = file.WriteBytes(bytes.data(), bytes.size()) && file.Sync();
        file.Close();
        if (written) {
            m_unsaved = 0;
        } else {
            Log("WRITING FAILED to append to file " + path + "\n");
            // Take back whatever part of the batch reached the file: the
            // next try appends the whole batch again, and only once.
            if (kept >= 0 && ftruncate(guard, kept) != 0) {
                Log("SERVER DATA: ftruncate of " + path + " failed: " + std::strerror(errno) + "\n");
            }
        }
    }
    if (guard >= 0) ::close(guard);
    return written;
}

void ServerData::ReadFile()
{
    Log("SERVER DATA: Reading all samples from disk...\n");
    const std::string path = GetPath();
    File file(false, false);
    if (!file.OpenRead(path, true, false)) {
        Log("SERVER DATA: FAILED TO OPEN SAMPLES FILE " + path + "\n");
        return;
    }

    std::vector<PollSample> samples;
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && info.st_size > 0) {
        samples.reserve(static_cast<size_t>(info.st_size) / SAMPLE_RECORD_SIZE + static_cast<size_t>(m_unsaved));
    }
    SampleDecoder decoder;
    std::vector<unsigned char> block(READ_BLOCK);
    size_t got;
    while ((got = file.ReadBytes(block.size(), block.data())) > 0) {
        decoder.Feed(block.data(), got, samples);
    }
    // A torn last record (decoder.GetPartialBytes() > 0) is ignored.
    Log("SERVER DATA: Read " + ToString(static_cast<unsigned>(samples.size())) + " samples\n");

    // The samples added before this read that are not in the file yet.
    samples.insert(samples.end(), m_samples.end() - m_unsaved, m_samples.end());
    m_samples.swap(samples);
    m_inOrder = std::is_sorted(m_samples.begin(), m_samples.end(),
                               [](const PollSample& a, const PollSample& b) { return a.m_time < b.m_time; });
}

void ServerData::GetSamples(const TimeRange& range, std::vector<PollSample>& out)
{
    MutexLocker locker(m_mutex);
    Log("SERVER DATA: Data requested for " + range.GetText() + "\n");
    if (!m_loaded) {
        ReadFile();
        m_loaded = true;  // also when the file could not be opened: read once
    }

    const Time start = range.GetStart();
    const Time end = range.GetEnd();
    if (m_inOrder) {
        // In order, "skip what lies before the start, stop at the first at or
        // after the end" is exactly the block between these two searches.
        auto before = [](const PollSample& sample, const Time& t) { return sample.m_time < t; };
        auto first = std::lower_bound(m_samples.begin(), m_samples.end(), start, before);
        auto last = std::lower_bound(first, m_samples.end(), end, before);
        out.assign(first, last);
        return;
    }
    // Out of order: walk from the beginning; a sample before the start is
    // skipped, the first at or after the end ends the run.
    out.clear();
    for (const PollSample& sample : m_samples) {
        if (sample.m_time < start) continue;
        if (sample.m_time >= end) break;
        out.push_back(sample);
    }
}

}  // namespace Kelm
