// Counted references: self-assignment, copies, and copies made and dropped on
// many threads at once, with a live-object counter that must return to zero.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/Shareable.h"

namespace Kelm {
namespace {

std::atomic<int> s_live{0};

class Counted : public Shareable {
public:
    Counted() { ++s_live; }
    ~Counted() override { --s_live; }
};

class SharedPtrTest : public testing::Test {
protected:
    void SetUp() override { s_live = 0; }
    void TearDown() override { EXPECT_EQ(s_live, 0) << "an object leaked or was deleted twice"; }
};

TEST_F(SharedPtrTest, SelfAssignmentKeepsTheObject)
{
    SharedPtr<Counted> pointer(new Counted());
    SharedPtr<Counted>& alias = pointer;
    pointer = alias;
    EXPECT_EQ(s_live, 1);
    EXPECT_EQ(pointer->GetRefCount(), 1);
    pointer = pointer.Get();
    EXPECT_EQ(pointer->GetRefCount(), 1);
}

TEST_F(SharedPtrTest, LastCopyDeletesOnce)
{
    SharedPtr<Counted> first(new Counted());
    {
        SharedPtr<Counted> second = first;
        EXPECT_EQ(first->GetRefCount(), 2);
        first = nullptr;
        EXPECT_EQ(s_live, 1);
    }
    EXPECT_EQ(s_live, 0);
}

TEST_F(SharedPtrTest, UntakenObjectIsNotDeleted)
{
    Counted* raw = new Counted();
    EXPECT_EQ(raw->GetRefCount(), 0);
    SharedPtr<Counted> none;
    none = nullptr;
    EXPECT_EQ(s_live, 1);
    delete raw;
}

TEST_F(SharedPtrTest, CopiesAcrossThreads)
{
    SharedPtr<Counted> shared(new Counted());
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([shared] {
            for (int i = 0; i < 20000; ++i) {
                SharedPtr<Counted> copy = shared;
                SharedPtr<Counted> other;
                other = copy;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(shared->GetRefCount(), 1);
    shared = nullptr;
}

struct Made {
    Made() { ++s_made; }
    static std::atomic<int> s_made;
};
std::atomic<int> Made::s_made{0};

TEST(Singleton, CreatedOnceUnderConcurrentFirstCalls)
{
    std::vector<std::thread> threads;
    std::vector<Made*> seen(8);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&seen, t] { seen[t] = Singleton<Made>::Instance(); });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(Made::s_made, 1);
    for (Made* each : seen) EXPECT_EQ(each, seen[0]);
}

}  // namespace
}  // namespace Kelm
