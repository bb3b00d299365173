// Sample store figures for one server with a year of history at the
// 120-second grid (262,800 records, about 4.2 MB): the first range query
// over the whole year (one read of the file, merged with pending samples),
// the same query again from memory, and one day out of the year.
//
// Targets: first year 50 ms, year from memory 10 ms, one day 1 ms. All in a
// temporary data folder that is removed at the end. The year's file is
// written in one go; the cost of the store's own appends (a batch of 11
// with its fsync) is measured separately.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/File.h"
#include "foundation/Locations.h"
#include "monitor/SampleRecord.h"
#include "monitor/ServerData.h"

namespace Kelm {
const char* const ApplicationName = "Farview";
}

namespace {

using namespace Kelm;
using Clock = std::chrono::steady_clock;

constexpr uint32_t INTERVAL = 120;
constexpr uint32_t YEAR_SAMPLES = 365 * 24 * 3600 / INTERVAL;  // 262,800
constexpr uint32_t FIRST = 1700006400;                           // a grid time
constexpr uint32_t PENDING = 7;

double Milliseconds(Clock::duration elapsed)
{
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

PollSample Sample(uint32_t index)
{
    PollSample sample;
    sample.m_time = Time(FIRST + INTERVAL * index);
    sample.m_status = index % 97 == 0 ? PollSample::KELM_SERVER_DOWN : PollSample::KELM_GOOD;
    sample.m_connectSeconds = static_cast<int>(index % 3);
    return sample;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main()
{
    char folderTemplate[] = "/tmp/farview-bench-XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = folderTemplate;
    setenv("FARVIEW_DATA_DIR", folder.c_str(), 1);
    // The store logs every batch and every query; the figures go to stderr.
    std::freopen("/dev/null", "w", stdout);

    TimeRange year(Time(FIRST), Time(FIRST + INTERVAL * (YEAR_SAMPLES + PENDING)));
    {
        // The year's file in one write: through the store it would take a
        // minute of fsyncs, one per batch.
        std::vector<unsigned char> bytes(YEAR_SAMPLES * SAMPLE_RECORD_SIZE);
        for (uint32_t i = 0; i < YEAR_SAMPLES; ++i) EncodeSample(Sample(i), bytes.data() + i * SAMPLE_RECORD_SIZE);
        File file(false, false);
        const std::string path = ServerData("bench.example.com", 80).GetPath();
        if (!file.OpenWrite(path, FILE_VERSION, true, false, true) || !file.WriteBytes(bytes.data(), bytes.size()) ||
            !file.Sync()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    {
        // What one batch costs the poll thread that hands in the 11th sample.
        SharedPtr<ServerData> writer(new ServerData("batches.example.com", 80));
        std::vector<double> batches;
        for (uint32_t i = 0; i < 11 * 50; ++i) {
            Clock::time_point start = Clock::now();
            writer->AddSample(Sample(i));
            if (i % 11 == 10) batches.push_back(Milliseconds(Clock::now() - start));
        }
        std::fprintf(stderr, "append one batch of 11 (fsync): %8.2f ms  (median of 50)\n", Median(batches));
    }

    // A fresh store, as after a restart, with a few samples not yet written.
    SharedPtr<ServerData> store(new ServerData("bench.example.com", 80));
    for (uint32_t i = YEAR_SAMPLES; i < YEAR_SAMPLES + PENDING; ++i) store->AddSample(Sample(i));
    std::vector<PollSample> out;

    Clock::time_point start = Clock::now();
    store->GetSamples(year, out);
    double first = Milliseconds(Clock::now() - start);
    if (out.size() != YEAR_SAMPLES + PENDING) {
        std::fprintf(stderr, "wrong count: %zu\n", out.size());
        return 1;
    }

    std::vector<double> again;
    for (int round = 0; round < 20; ++round) {
        start = Clock::now();
        store->GetSamples(year, out);
        again.push_back(Milliseconds(Clock::now() - start));
    }

    // One day from the middle of the year.
    std::vector<double> days;
    const uint32_t dayStart = FIRST + INTERVAL * (YEAR_SAMPLES / 2);
    TimeRange day(Time(dayStart), Time(dayStart + 86400));
    for (int round = 0; round < 1000; ++round) {
        start = Clock::now();
        store->GetSamples(day, out);
        days.push_back(Milliseconds(Clock::now() - start));
    }
    if (out.size() != 720) {
        std::fprintf(stderr, "wrong day count: %zu\n", out.size());
        return 1;
    }

    std::fprintf(stderr, "first query, whole year:        %8.2f ms  (target 50 ms; file read and merge)\n", first);
    std::fprintf(stderr, "whole year from memory:         %8.2f ms  (target 10 ms; median of 20, best %.2f)\n",
                 Median(again), *std::min_element(again.begin(), again.end()));
    std::fprintf(stderr, "one day from memory:            %8.4f ms  (target 1 ms; median of 1000, worst %.4f)\n",
                 Median(days), *std::max_element(days.begin(), days.end()));

    std::filesystem::remove_all(folder);
    return 0;
}
