// Sockets over real loopback connections: the typed values, the raw read,
// the connect rules (silent failure to resolve, its two messages, time-outs
// kept, no descriptor left behind) and the listening socket's report.
#include "net/Socket.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cmath>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Test::CaptureLog;
using Test::FreePort;

int OpenDescriptors()
{
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    while (readdir(folder) != nullptr) ++count;
    closedir(folder);
    return count;
}

// A listening socket and one connection to it: client and accepted ends.
class SocketPair : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_port = FreePort();
        m_server = std::make_unique<ServerSocket>(m_port);
        ASSERT_TRUE(m_server->IsListening()) << m_server->GetError();
        ASSERT_TRUE(m_client.Connect("127.0.0.1", m_port, true));
        m_accepted = m_server->Accept();
        ASSERT_GE(m_accepted.GetDescriptor(), 0);
    }
    void TearDown() override
    {
        m_client.Close();
        m_accepted.Close();
        m_server->Close();
    }

    int m_port = 0;
    std::unique_ptr<ServerSocket> m_server;
    ClientSocket m_client;
    Socket m_accepted{-1};
};

TEST_F(SocketPair, TypedValuesTravelWhole)
{
    ASSERT_TRUE(m_client.WriteInt(-123456789));
    ASSERT_TRUE(m_client.WriteFloat(3.25f));
    ASSERT_TRUE(m_client.WriteString("alpha.example"));
    ASSERT_TRUE(m_client.WriteByte('j'));

    int number = 0;
    float real = 0;
    std::string text;
    char byte = 0;
    EXPECT_TRUE(m_accepted.ReadInt(number));
    EXPECT_EQ(number, -123456789);
    EXPECT_TRUE(m_accepted.ReadFloat(real));
    EXPECT_EQ(real, 3.25f);
    EXPECT_TRUE(m_accepted.ReadString(text));
    EXPECT_EQ(text, "alpha.example");
    EXPECT_TRUE(m_accepted.ReadByte(byte));
    EXPECT_EQ(byte, 'j');
}

TEST_F(SocketPair, StringWithZeroLengthReadsNothingMore)
{
    ASSERT_TRUE(m_client.WriteInt(0));
    ASSERT_TRUE(m_client.WriteByte('x'));
    std::string text = "unchanged";
    EXPECT_FALSE(m_accepted.ReadString(text));
    char byte = 0;
    EXPECT_TRUE(m_accepted.ReadByte(byte));
    EXPECT_EQ(byte, 'x');
}

TEST_F(SocketPair, StringWithHostileLengthFailsWithoutHugeAllocation)
{
    // A negative length, then one of 2 GB that never arrives.
    ASSERT_TRUE(m_client.WriteInt(-5));
    std::string text;
    EXPECT_FALSE(m_accepted.ReadString(text));
    ASSERT_TRUE(m_client.WriteInt(0x7fffffff));
    ASSERT_TRUE(m_client.WriteText("abc"));
    m_client.Close();
    EXPECT_FALSE(m_accepted.ReadString(text));
}

TEST_F(SocketPair, StringStopsAtItsFirstZeroByte)
{
    ASSERT_TRUE(m_client.WriteInt(5));
    ASSERT_TRUE(m_client.WriteText(std::string("ab\0cd", 5)));
    std::string text;
    EXPECT_TRUE(m_accepted.ReadString(text));
    EXPECT_EQ(text, "ab");
}

TEST_F(SocketPair, ReceiveAllFailsWhenThePeerClosesEarly)
{
    ASSERT_TRUE(m_client.WriteText("ab"));
    m_client.Close();
    char buffer[4];
    EXPECT_EQ(m_accepted.ReceiveAll(buffer, 4), -1);
    int number;
    EXPECT_FALSE(m_accepted.ReadInt(number));
}

TEST_F(SocketPair, WriteTextSendsExactlyTheBytes)
{
    EXPECT_TRUE(m_client.WriteText(""));
    EXPECT_TRUE(m_client.WriteText("GET / HTTP/1.0\r\n"));
    m_client.Close();
    std::string received, piece;
    do {
        ASSERT_TRUE(m_accepted.GetRawString(piece));
        received += piece;
    } while (!piece.empty());
    EXPECT_EQ(received, "GET / HTTP/1.0\r\n");
}

TEST_F(SocketPair, RawStringIsOneReadOfAtMost1000BytesUpToAZero)
{
    ASSERT_TRUE(m_client.WriteText(std::string(1500, 'a')));
    std::string text;
    ASSERT_TRUE(Kelm::Test::WaitUntil([&] {
        char peek[1500];
        return recv(m_accepted.GetDescriptor(), peek, sizeof peek, MSG_PEEK | MSG_DONTWAIT) == 1500;
    }));
    EXPECT_TRUE(m_accepted.GetRawString(text));
    EXPECT_EQ(text.size(), 1000u);

    ASSERT_TRUE(m_client.WriteText(std::string("xy\0z", 4)));
    ASSERT_TRUE(Kelm::Test::WaitUntil([&] {
        char peek[504];
        return recv(m_accepted.GetDescriptor(), peek, sizeof peek, MSG_PEEK | MSG_DONTWAIT) == 504;
    }));
    EXPECT_TRUE(m_accepted.GetRawString(text));
    EXPECT_EQ(text, std::string(500, 'a') + "xy");
}

TEST_F(SocketPair, RawStringAtTheEndIsEmptyAndTrue)
{
    m_client.Close();
    std::string text = "old";
    EXPECT_TRUE(m_accepted.GetRawString(text));
    EXPECT_EQ(text, "");
}

TEST(Socket, RawStringOnAClosedSocketFails)
{
    Socket socket;
    socket.Close();
    std::string text = "old";
    EXPECT_FALSE(socket.GetRawString(text));
    EXPECT_EQ(text, "");
}

TEST(Socket, DestroyingLeavesTheDescriptorOpen)
{
    int descriptor;
    {
        Socket socket;
        descriptor = socket.GetDescriptor();
        ASSERT_GE(descriptor, 0);
    }
    EXPECT_NE(fcntl(descriptor, F_GETFD), -1);
    Socket again(descriptor);
    again.Close();
    EXPECT_EQ(fcntl(descriptor, F_GETFD), -1);
}

TEST(SocketClient, NameThatDoesNotResolveFailsSilently)
{
    ClientSocket client;
    bool connected = true;
    std::string log = CaptureLog([&] { connected = client.Connect("", 80, true); });
    EXPECT_FALSE(connected);
    EXPECT_EQ(log, "");
    client.Close();
}

TEST(SocketClient, RefusedPortSaysConnectFailed)
{
    ClientSocket client;
    bool connected = true;
    std::string log = CaptureLog([&] { connected = client.Connect("127.0.0.1", FreePort(), true); });
    EXPECT_FALSE(connected);
    EXPECT_EQ(log, "CONNECT: call to connect() failed.\n");
    client.Close();
}

TEST(SocketClient, TimeoutIsKeptAcrossConnectsAndNoDescriptorLeaks)
{
    int port = FreePort();
    ServerSocket server(port);
    ASSERT_TRUE(server.IsListening());
    ClientSocket client;
    client.SetTimeout(7);
    int before = OpenDescriptors();
    for (int poll = 0; poll < 50; ++poll) {
        ASSERT_TRUE(client.Connect("localhost", port, true));
        timeval receive{}, send{};
        socklen_t length = sizeof receive;
        getsockopt(client.GetDescriptor(), SOL_SOCKET, SO_RCVTIMEO, &receive, &length);
        length = sizeof send;
        getsockopt(client.GetDescriptor(), SOL_SOCKET, SO_SNDTIMEO, &send, &length);
        EXPECT_EQ(receive.tv_sec, 7);
        EXPECT_EQ(send.tv_sec, 7);
        Socket accepted = server.Accept();
        accepted.Close();
        // Every second poll forgets to close: the next Connect must.
        if (poll % 2 == 0) client.Close();
    }
    client.Close();
    EXPECT_LE(OpenDescriptors(), before);
    server.Close();
}

TEST(SocketClient, FailedTimeoutIsReported)
{
    Socket socket;
    socket.Close();
    std::string log = CaptureLog([&] { socket.SetTimeout(5); });
    EXPECT_EQ(log, "SOCKET: error setting timeout: -1\nSOCKET: error setting timeout: -1\n");
}

TEST(SocketServer, AcceptedConnectionsInheritTheTimeouts)
{
    // The HTTP server sets its connections' time-outs this way, once.
    int port = FreePort();
    ServerSocket server(port);
    ASSERT_TRUE(server.IsListening());
    server.SetTimeout(10);
    ClientSocket client;
    ASSERT_TRUE(client.Connect("127.0.0.1", port, true));
    Socket accepted = server.Accept();
    timeval receive{}, send{};
    socklen_t length = sizeof receive;
    getsockopt(accepted.GetDescriptor(), SOL_SOCKET, SO_RCVTIMEO, &receive, &length);
    length = sizeof send;
    getsockopt(accepted.GetDescriptor(), SOL_SOCKET, SO_SNDTIMEO, &send, &length);
    EXPECT_EQ(receive.tv_sec, 10);
    EXPECT_EQ(send.tv_sec, 10);
    accepted.Close();
    client.Close();
    server.Close();
}

TEST(SocketServer, PortInUseIsReported)
{
    int port = FreePort();
    ServerSocket first(port);
    ASSERT_TRUE(first.IsListening());
    EXPECT_EQ(first.GetError(), "");
    ServerSocket second(port);
    EXPECT_FALSE(second.IsListening());
    EXPECT_EQ(second.GetError(), "Address already in use");
    first.Close();
    second.Close();
}

}  // namespace
}  // namespace Kelm
