// CommandHistory: do, undo and redo bookkeeping with counted test commands
// (every one destroyed exactly when the history lets go of it), and adds of
// the same server from many threads at once, of which exactly one succeeds.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "monitor/ServerManager.h"
#include "tests/support/TestSupport.h"
#include "web/FormHandler.h"
#include "web/Command.h"
#include "web/CommandHistory.h"

namespace Kelm {
namespace {

std::atomic<int> s_liveCommands{0};

// Records what ran in a shared journal.
class JournalCommand : public UptimeCommand {
public:
    JournalCommand(std::string name, std::vector<std::string>& journal, bool succeeds = true)
        : m_label(std::move(name)), m_journal(journal), m_succeeds(succeeds)
    {
        ++s_liveCommands;
    }
    ~JournalCommand() override { --s_liveCommands; }
    bool Execute() override
    {
        m_journal.push_back("do " + m_label);
        m_result = m_succeeds;
        return m_succeeds;
    }
    bool Undo() override
    {
        m_journal.push_back("undo " + m_label);
        return true;
    }

private:
    std::string m_label;
    std::vector<std::string>& m_journal;
    bool m_succeeds;
};

TEST(CommandHistory, DoUndoRedo)
{
    std::vector<std::string> journal;
    {
        CommandHistory history;
        EXPECT_FALSE(history.Undo());
        EXPECT_FALSE(history.Redo());

        history.Do(new JournalCommand("first", journal));
        history.Do(new JournalCommand("second", journal));
        EXPECT_EQ(history.GetPosition(), 2u);
        EXPECT_TRUE(history.Undo());
        EXPECT_EQ(history.GetPosition(), 1u);
        EXPECT_EQ(s_liveCommands, 2) << "an undone command is kept for redo";

        // A new command drops the undone one.
        history.Do(new JournalCommand("third", journal));
        EXPECT_EQ(s_liveCommands, 2);
        EXPECT_EQ(history.GetCount(), 2u);
        EXPECT_EQ(history.GetPosition(), 2u);
        EXPECT_FALSE(history.Redo());

        EXPECT_TRUE(history.Undo());
        EXPECT_TRUE(history.Undo());
        EXPECT_FALSE(history.Undo());
        EXPECT_TRUE(history.Redo());
        EXPECT_EQ(history.GetPosition(), 1u);

        // A failing command is neither recorded nor kept, and drops nothing.
        history.Do(new JournalCommand("failing", journal, false));
        EXPECT_EQ(history.GetCount(), 2u);
        EXPECT_EQ(history.GetPosition(), 1u);
        EXPECT_EQ(s_liveCommands, 2);

        history.Do(SharedPtr<Command>());
        EXPECT_EQ(history.GetCount(), 2u);
    }
    const std::vector<std::string> expected = {"do first",    "do second",   "undo second", "do third",
                                               "undo third",  "undo first",  "do first",    "do failing"};
    EXPECT_EQ(journal, expected);
}

TEST(CommandHistory, ConcurrentAddsOfOneServerAddItOnce)
{
    Kelm::Test::TempDir data;
    setenv("FARVIEW_DATA_DIR", data.Path().c_str(), 1);
    constexpr int THREADS = 8;
    std::atomic<int> added{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    std::string log = Kelm::Test::CaptureLog([&] {
        for (int i = 0; i < THREADS; ++i) {
            threads.emplace_back([&, i] {
                // Half of them write the name in capitals.
                std::string page = AddServerPost({{"server", i % 2 ? "Alpha" : "alpha"}});
                if (page.find("successfully added") != std::string::npos) ++added;
                if (page.find("This server is already monitored.") != std::string::npos) ++refused;
            });
        }
        for (std::thread& thread : threads) thread.join();
    });
    EXPECT_EQ(added, 1);
    EXPECT_EQ(refused, THREADS - 1);
    EXPECT_EQ(Singleton<ServerManager>::Instance()->GetServers().size(), 1u);
    EXPECT_EQ(Singleton<CommandHistory>::Instance()->GetCount(), 1u);
}

}  // namespace
}  // namespace Kelm
