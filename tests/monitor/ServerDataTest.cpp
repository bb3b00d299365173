// The sample store against real files in a temporary data folder: batches of
// 11, the record bytes, reading torn and damaged files, the merge of file and
// pending samples, the half-open range, files that cannot be written, and
// readers running while samples arrive. Also the status texts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>
#include <thread>

#include "foundation/Locations.h"
#include "monitor/PollSample.h"
#include "monitor/SampleRecord.h"
#include "monitor/ServerData.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Kelm::Test::CaptureLog;
using Kelm::Test::ReadFile;
using Kelm::Test::TempDir;
using Kelm::Test::WriteFile;

PollSample MakeSample(uint32_t time, int status = PollSample::KELM_GOOD, int connectSeconds = 0, uint32_t router = 0)
{
    PollSample sample;
    sample.m_time = Time(time);
    sample.m_status = status;
    sample.m_connectSeconds = connectSeconds;
    sample.m_routerAddress = router;
    return sample;
}

std::string Describe(const std::vector<PollSample>& samples)
{
    std::string text;
    for (const PollSample& each : samples) {
        text += "(" + std::to_string(each.m_time.GetSeconds()) + "," + std::to_string(each.m_status) + "," +
                std::to_string(each.m_connectSeconds) + "," + std::to_string(each.m_routerAddress) + ")";
    }
    return text;
}

std::vector<uint32_t> TimesOf(const std::vector<PollSample>& samples)
{
    std::vector<uint32_t> times;
    for (const PollSample& each : samples) times.push_back(each.m_time.GetSeconds());
    return times;
}

// The record of a sample, byte by byte, as the file format lays it out.
std::string Record(uint32_t time, int status = 0, int connect = 0, uint32_t router = 0)
{
    std::string bytes;
    for (uint32_t value : {time, static_cast<uint32_t>(status), static_cast<uint32_t>(connect), router}) {
        for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xFF);
    }
    return bytes;
}

std::vector<PollSample> All(ServerData& store)
{
    std::vector<PollSample> out;
    store.GetSamples(TimeRange(Time(0), Time(0xFFFFFFFFu)), out);
    return out;
}

off_t SizeOf(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

class ServerDataTest : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("FARVIEW_DATA_DIR", m_data.Path().c_str(), 1);
        // The data folder is settled once per process: each test runs alone.
        ASSERT_EQ(GetDataFolder(), m_data.Path());
    }

    TempDir m_data;
};

TEST_F(ServerDataTest, PathIsVersionNameAndPort)
{
    EXPECT_EQ(ServerData("alpha", 80).GetPath(), m_data.Path() + "v1.0-alpha-80.dat");
    EXPECT_EQ(ServerData("my-host.example.com", 8080).GetPath(), m_data.Path() + "v1.0-my-host.example.com-8080.dat");
}

TEST_F(ServerDataTest, EleventhSampleWritesTheBatch)
{
    SharedPtr<ServerData> store(new ServerData("alpha", 80));
    const std::string path = store->GetPath();
    std::string log = CaptureLog([&] {
        for (uint32_t i = 0; i < 10; ++i) EXPECT_TRUE(store->AddSample(MakeSample(1200 + 120 * i)));
    });
    EXPECT_EQ(log, "");
    EXPECT_FALSE(Kelm::Test::FileExists(path));

    log = CaptureLog([&] { EXPECT_TRUE(store->AddSample(MakeSample(1200 + 120 * 10))); });
    EXPECT_EQ(log, "WRITING samples to disk for alpha\n");
    EXPECT_EQ(SizeOf(path), 176);

    // The pending count started again: ten more wait, the eleventh writes.
    for (uint32_t i = 11; i < 21; ++i) store->AddSample(MakeSample(1200 + 120 * i));
    EXPECT_EQ(SizeOf(path), 176);
    store->AddSample(MakeSample(1200 + 120 * 21));
    EXPECT_EQ(SizeOf(path), 352);
    for (uint32_t i = 0; i < 22; ++i) {
        EXPECT_EQ(ReadFile(path).substr(16 * i, 16), Record(1200 + 120 * i)) << i;
    }
}

TEST_F(ServerDataTest, RecordBytesAreLittleEndian)
{
    SharedPtr<ServerData> store(new ServerData("alpha", 80));
    store->AddSample(MakeSample(0x12345678, PollSample::KELM_SERVER_DOWN, 75, 0));
    store->AddSample(MakeSample(0x12345678 + 120, PollSample::KELM_BAD_ROUTER, 3, 0xC0A80101));  // 192.168.1.1
    store->AddSample(MakeSample(0x12345678 + 240, -2, -1, 0));
    for (int i = 0; i < 8; ++i) store->AddSample(MakeSample(0x12345678 + 360 + 120 * i));

    const std::string bytes = ReadFile(store->GetPath());
    ASSERT_EQ(bytes.size(), 176u);
    EXPECT_EQ(bytes.substr(0, 16), std::string("\x78\x56\x34\x12"
                                               "\x02\x00\x00\x00"
                                               "\x4B\x00\x00\x00"
                                               "\x00\x00\x00\x00",
                                               16));
    EXPECT_EQ(bytes.substr(28, 4), std::string("\x01\x01\xA8\xC0", 4));
    EXPECT_EQ(bytes.substr(36, 8), std::string("\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8));
}

TEST_F(ServerDataTest, FileIsReadOnceAndTornRecordsIgnored)
{
    struct Case {
        std::string content;
        std::vector<uint32_t> expected;
        const char* readLine;
    };
    const Case cases[] = {
        {Record(1200, 2, 75) + Record(1320, 7, 4, 0x0A000001), {1200, 1320}, "SERVER DATA: Read 2 samples\n"},    // 40 bytes
        {Record(1200, 2, 75) + Record(1320, 7, 4, 0x0A000001) + std::string("\x01\x02\x03\x04\x05\x06", 6),        // 46 bytes
         {1200, 1320}, "SERVER DATA: Read 2 samples\n"},
        {Record(1200, 2, 75) + std::string(16, '\0') + Record(1320, 7, 4, 0x0A000001), {1200, 1320},  // a zero record
         "SERVER DATA: Read 2 samples\n"},
        {std::string(15, '\x7F'), {}, "SERVER DATA: Read 0 samples\n"},
        {"", {}, "SERVER DATA: Read 0 samples\n"},
    };
    int round = 0;
    for (const Case& each : cases) {
        const std::string name = "host" + std::to_string(round++);
        WriteFile(m_data.File("v1.0-" + name + "-80.dat"), each.content);
        SharedPtr<ServerData> store(new ServerData(name, 80));
        std::vector<PollSample> samples;
        std::string log = CaptureLog([&] { samples = All(*store); });
        EXPECT_EQ(TimesOf(samples), each.expected) << name;
        EXPECT_NE(log.find("SERVER DATA: Reading all samples from disk...\n"), std::string::npos) << log;
        EXPECT_NE(log.find(each.readLine), std::string::npos) << log;
        if (each.expected.size() == 2) {
            EXPECT_EQ(samples[0].m_status, 2);
            EXPECT_EQ(samples[0].m_connectSeconds, 75);
            EXPECT_EQ(samples[1].m_routerAddress, 0x0A000001u);
        }

        // The file is read once: what is written to it later by others is
        // not read again.
        WriteFile(store->GetPath(), Record(5000) + Record(5120));
        log = CaptureLog([&] { samples = All(*store); });
        EXPECT_EQ(TimesOf(samples), each.expected) << name;
        EXPECT_EQ(log.find("Reading all samples"), std::string::npos) << log;
    }
}

TEST_F(ServerDataTest, MissingFileIsLoggedAndCountsAsRead)
{
    SharedPtr<ServerData> store(new ServerData("alpha", 80));
    std::vector<PollSample> out;
    std::string log = CaptureLog([&] { store->GetSamples(TimeRange(Time(0), Time(100)), out); });
    EXPECT_NE(log.find("SERVER DATA: Data requested for "), std::string::npos) << log;
    EXPECT_NE(log.find("SERVER DATA: FAILED TO OPEN SAMPLES FILE " + store->GetPath() + "\n"), std::string::npos) << log;
    EXPECT_TRUE(out.empty());

    for (uint32_t i = 0; i < 12; ++i) store->AddSample(MakeSample(1200 + 120 * i));
    log = CaptureLog([&] { out = All(*store); });
    EXPECT_EQ(out.size(), 12u);
    EXPECT_EQ(log.find("SERVER DATA: Reading"), std::string::npos) << log;
}

TEST_F(ServerDataTest, FirstQueryMergesFileAndPendingOnce)
{
    // History from an earlier run, then 11 written and 4 pending by this one.
    WriteFile(m_data.File("v1.0-alpha-80.dat"), Record(600) + Record(720));
    SharedPtr<ServerData> store(new ServerData("alpha", 80));
    for (uint32_t i = 0; i < 15; ++i) store->AddSample(MakeSample(1200 + 120 * i));
    EXPECT_EQ(SizeOf(store->GetPath()), 16 * 13);

    std::vector<uint32_t> expected = {600, 720};
    for (uint32_t i = 0; i < 15; ++i) expected.push_back(1200 + 120 * i);
    EXPECT_EQ(TimesOf(All(*store)), expected);

    // Later samples join the same array; nothing appears twice.
    for (uint32_t i = 15; i < 20; ++i) store->AddSample(MakeSample(1200 + 120 * i));
    for (uint32_t i = 15; i < 20; ++i) expected.push_back(1200 + 120 * i);
    EXPECT_EQ(TimesOf(All(*store)), expected);
    // A fresh store reads back what is in the file: the history and one batch.
    EXPECT_EQ(TimesOf(All(*SharedPtr<ServerData>(new ServerData("alpha", 80)))),
              std::vector<uint32_t>(expected.begin(), expected.begin() + 13));
}

// The selection rule, walked literally: skip what lies before the start,
// stop at the first sample at or after the end.
std::vector<uint32_t> Reference(const std::vector<uint32_t>& times, uint32_t start, uint32_t end)
{
    std::vector<uint32_t> selected;
    for (uint32_t t : times) {
        if (t < start) continue;
        if (t >= end) break;
        selected.push_back(t);
    }
    return selected;
}

TEST_F(ServerDataTest, RangeIsHalfOpenAndStopsAtTheFirstLateSample)
{
    struct Case {
        std::vector<uint32_t> times;  // in the order added
        uint32_t start, end;
        std::vector<uint32_t> expected;
    };
    const uint32_t t = 1200;
    const Case cases[] = {
        {{t - 120, t, t + 120}, t, t + 120, {t}},
        {{t - 120, t, t + 120}, t, t, {}},
        {{t - 120, t, t + 120}, 0, 0xFFFFFFFFu, {t - 120, t, t + 120}},
        {{t, t, t + 120}, t, t + 1, {t, t}},
        // Out of order: a sample at or after the end ends the run ...
        {{120, 480, 240}, 100, 400, {120}},
        // ... one before the start is passed over.
        {{240, 50, 360}, 200, 400, {240, 360}},
        {{300, 100, 200}, 100, 250, {}},
    };
    int round = 0;
    for (const Case& each : cases) {
        SharedPtr<ServerData> store(new ServerData("host" + std::to_string(round++), 80));
        for (uint32_t time : each.times) store->AddSample(MakeSample(time));
        std::vector<PollSample> out;
        store->GetSamples(TimeRange(Time(each.start), Time(each.end)), out);
        EXPECT_EQ(TimesOf(out), each.expected) << "[" << each.start << ", " << each.end << ") case " << round;
        EXPECT_EQ(TimesOf(out), Reference(each.times, each.start, each.end));
    }
}

TEST_F(ServerDataTest, SearchAgreesWithTheWalkOnRandomHistories)
{
    const unsigned seed = 20240611;
    std::mt19937 random(seed);
    for (int round = 0; round < 40; ++round) {
        // Grid times, sometimes with repeats and, in every other round, one
        // sample out of order.
        std::vector<uint32_t> times;
        uint32_t t = 1200 + 120 * (random() % 10);
        size_t count = random() % 60;
        for (size_t i = 0; i < count; ++i) {
            times.push_back(t);
            if (random() % 5 != 0) t += 120;
        }
        if (round % 2 == 1 && !times.empty()) times[random() % times.size()] = 120 * (1 + random() % 70);

        // Part of the history comes from the file, the rest is added now.
        const std::string name = "host" + std::to_string(round);
        size_t fromFile = times.empty() ? 0 : random() % (times.size() + 1);
        std::string content;
        for (size_t i = 0; i < fromFile; ++i) content += Record(times[i]);
        WriteFile(m_data.File("v1.0-" + name + "-80.dat"), content);
        SharedPtr<ServerData> store(new ServerData(name, 80));
        for (size_t i = fromFile; i < times.size(); ++i) store->AddSample(MakeSample(times[i]));

        for (int query = 0; query < 20; ++query) {
            uint32_t a = 120 * (random() % 80) + (random() % 3 == 0 ? 1 : 0);
            uint32_t b = 120 * (random() % 80);
            uint32_t start = std::min(a, b), end = std::max(a, b);
            std::vector<PollSample> out;
            store->GetSamples(TimeRange(Time(start), Time(end)), out);
            ASSERT_EQ(TimesOf(out), Reference(times, start, end))
                << "seed " << seed << " round " << round << " range [" << start << ", " << end << ")";
        }
    }
}

TEST_F(ServerDataTest, DamagedTailIsCutBeforeAnAppend)
{
    struct Case {
        const char* what;
        std::string tail;
        off_t cut;
    };
    const Case cases[] = {
        {"8 stray bytes", std::string("\x11\x22\x33\x44\x55\x66\x77\x88", 8), 8},
        {"a zero record", std::string(16, '\0'), 16},
        {"zero records and stray zeros", std::string(16 * 300 + 5, '\0'), 16 * 300 + 5},
        {"nothing", "", 0},
    };
    int round = 0;
    for (const Case& each : cases) {
        const std::string name = "host" + std::to_string(round++);
        const std::string path = m_data.File("v1.0-" + name + "-80.dat");
        WriteFile(path, Record(600, 2) + Record(720, 0) + each.tail);

        SharedPtr<ServerData> store(new ServerData(name, 80));
        std::string log = CaptureLog([&] {
            for (uint32_t i = 0; i < 11; ++i) store->AddSample(MakeSample(1200 + 120 * i));
        });
        EXPECT_EQ(SizeOf(path), 16 * 13) << each.what;
        if (each.cut > 0) {
            EXPECT_NE(log.find("SERVER DATA: Cut " + std::to_string(each.cut) + " bytes"), std::string::npos)
                << each.what << ": " << log;
        }

        std::vector<uint32_t> expected = {600, 720};
        for (uint32_t i = 0; i < 11; ++i) expected.push_back(1200 + 120 * i);
        std::vector<PollSample> samples = All(*SharedPtr<ServerData>(new ServerData(name, 80)));
        EXPECT_EQ(TimesOf(samples), expected) << each.what;
        EXPECT_EQ(samples[0].m_status, 2) << each.what;
    }
}

TEST_F(ServerDataTest, FileThatCannotBeOpenedKeepsSamplesPending)
{
    SharedPtr<ServerData> store(new ServerData("alpha", 80));
    const std::string path = store->GetPath();
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);  // nothing can open a folder for appending

    for (uint32_t i = 0; i < 10; ++i) EXPECT_TRUE(store->AddSample(MakeSample(1200 + 120 * i)));
    std::string log = CaptureLog([&] { EXPECT_FALSE(store->AddSample(MakeSample(1200 + 120 * 10))); });
    EXPECT_EQ(log, "WRITING samples to disk for alpha\nWRITING FAILED to open file " + path + "\n");
    EXPECT_FALSE(store->AddSample(MakeSample(1200 + 120 * 11)));
    // Meanwhile the pages see every sample.
    EXPECT_EQ(All(*store).size(), 12u);

    ASSERT_EQ(rmdir(path.c_str()), 0);
    EXPECT_TRUE(store->AddSample(MakeSample(1200 + 120 * 12)));
    EXPECT_EQ(SizeOf(path), 16 * 13);
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < 13; ++i) expected.push_back(1200 + 120 * i);
    EXPECT_EQ(TimesOf(All(*SharedPtr<ServerData>(new ServerData("alpha", 80)))), expected);
    EXPECT_EQ(TimesOf(All(*store)), expected);
}

TEST_F(ServerDataTest, FailedWriteKeepsSamplesPending)
{
    SharedPtr<ServerData> store(new ServerData("alpha", 80));
    const std::string path = store->GetPath();
    ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);  // every write fails: no space

    for (uint32_t i = 0; i < 10; ++i) store->AddSample(MakeSample(1200 + 120 * i));
    std::string log = CaptureLog([&] { EXPECT_FALSE(store->AddSample(MakeSample(1200 + 120 * 10))); });
    EXPECT_NE(log.find("WRITING FAILED to append to file " + path + "\n"), std::string::npos) << log;

    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_TRUE(store->AddSample(MakeSample(1200 + 120 * 11)));
    EXPECT_EQ(SizeOf(path), 16 * 12);
}

TEST_F(ServerDataTest, FlushWritesWhatIsPending)
{
    SharedPtr<ServerData> store(new ServerData("alpha", 80));
    EXPECT_TRUE(store->Flush());
    EXPECT_FALSE(Kelm::Test::FileExists(store->GetPath()));
    for (uint32_t i = 0; i < 14; ++i) store->AddSample(MakeSample(1200 + 120 * i));
    std::string log = CaptureLog([&] { EXPECT_TRUE(store->Flush()); });
    EXPECT_EQ(log, "WRITING samples to disk for alpha\n");
    EXPECT_EQ(SizeOf(store->GetPath()), 16 * 14);
    EXPECT_TRUE(store->Flush());
    EXPECT_EQ(SizeOf(store->GetPath()), 16 * 14);
}

TEST_F(ServerDataTest, PagesReadWhileThePollThreadAdds)
{
    WriteFile(m_data.File("v1.0-alpha-80.dat"), Record(600) + Record(720));
    SharedPtr<ServerData> store(new ServerData("alpha", 80));
    const uint32_t COUNT = 600;
    std::atomic<bool> done{false};
    auto page = [&] {
        while (!done) {
            std::vector<PollSample> out;
            store->GetSamples(TimeRange(Time(0), Time(0xFFFFFFFFu)), out);
            // Always the history followed by a gap-free run of new samples.
            ASSERT_GE(out.size(), 2u);
            for (size_t i = 2; i < out.size(); ++i) ASSERT_EQ(out[i].m_time.GetSeconds(), 1200 + 120 * (i - 2));
        }
    };
    std::thread first(page), second(page);
    std::thread poll([&] {
        for (uint32_t i = 0; i < COUNT; ++i) store->AddSample(MakeSample(1200 + 120 * i));
    });
    poll.join();
    done = true;
    first.join();
    second.join();
    EXPECT_EQ(All(*store).size(), COUNT + 2);
    store->Flush();
    EXPECT_EQ(SizeOf(store->GetPath()), 16 * (COUNT + 2));
}

TEST(SampleDecoder, BytesInAnyPiecesGiveTheSameSamples)
{
    std::string file;
    for (uint32_t i = 0; i < 40; ++i) file += Record(1200 + 120 * i, static_cast<int>(i % 8), static_cast<int>(i), i * 7919);
    file += std::string(16, '\0') + Record(9000, 7, 1, 0xC0A80101) + std::string(16, '\0') + std::string("\x01\x02\x03", 3);
    const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());

    std::vector<PollSample> whole;
    SampleDecoder reference;
    reference.Feed(bytes, file.size(), whole);
    ASSERT_EQ(whole.size(), 41u);
    EXPECT_EQ(reference.GetPartialBytes(), 3u);
    EXPECT_EQ(whole.back().m_routerAddress, 0xC0A80101u);
    EXPECT_EQ(whole[5].m_status, 5);
    EXPECT_EQ(whole[5].m_connectSeconds, 5);

    const unsigned seed = 77;
    std::mt19937 random(seed);
    for (int round = 0; round < 200; ++round) {
        std::vector<PollSample> pieces;
        SampleDecoder decoder;
        size_t at = 0;
        while (at < file.size()) {
            size_t piece = std::min<size_t>(file.size() - at, random() % 40);
            decoder.Feed(bytes + at, piece, pieces);
            at += piece;
        }
        ASSERT_EQ(Describe(pieces), Describe(whole)) << "seed " << seed << " round " << round;
        ASSERT_EQ(decoder.GetPartialBytes(), 3u);
    }
}

TEST(StatusText, EveryCode)
{
    struct Case {
        int status;
        uint32_t router;
        const char* stateWord;
        const char* faultText;
    };
    const Case cases[] = {
        {0, 0, "Good", "as passed"},
        {1, 0, "Bad", "Unknown cause"},
        {2, 0, "Bad", "Server down"},
        {3, 0, "Unknown", "No data"},
        {4, 0, "Unknown", "Bad name"},
        {5, 0, "Unknown", "No network"},
        {6, 0, "Unknown", "No Internet"},
        {7, 0, "Unknown", "Bad router"},
        {7, 0x0A000001, "Unknown", "Bad router 10.0.0.1"},
        {7, 0xC0A801FE, "Unknown", "Bad router 192.168.1.254"},
        {9, 0, "Unexpected", "9"},
        {-1, 0, "Unexpected", "-1"},
    };
    for (const Case& each : cases) {
        std::string stateWord = "before", faultText = "as passed";
        GetStatusText(each.status, stateWord, faultText, each.router);
        EXPECT_EQ(stateWord, each.stateWord) << each.status;
        EXPECT_EQ(faultText, each.faultText) << each.status;
    }
    EXPECT_EQ(DottedAddress(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(DottedAddress(0), "0.0.0.0");
}

TEST(PollSampleDefaults, NoData)
{
    PollSample sample;
    EXPECT_EQ(sample.m_time.GetSeconds(), 0u);
    EXPECT_EQ(sample.m_status, PollSample::KELM_NO_DATA);
    EXPECT_EQ(sample.m_connectSeconds, 0);
    EXPECT_EQ(sample.m_routerAddress, 0u);
}

}  // namespace
}  // namespace Kelm
