#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "TcpClient.h"

namespace {

// A client attached to one end of a socket pair; the test plays the server on the other end.
struct TPair {
    TTcpClient Client;
    int Peer = -1;

    TPair() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        Client.Attach(fds[0]);
        Client.ReadTimeout = 2000;
        Peer = fds[1];
    }
    ~TPair() { ClosePeer(); }

    void Send(const std::string& bytes) {
        ASSERT_EQ(::write(Peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void ClosePeer() {
        if (Peer >= 0) ::close(Peer);
        Peer = -1;
    }
    std::string ReadPeer() {
        char buffer[4096];
        ssize_t n = ::read(Peer, buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }
};

std::string BigEndian(int32_t value) {
    uint32_t raw = htonl(static_cast<uint32_t>(value));
    return std::string(reinterpret_cast<const char*>(&raw), 4);
}

std::string Dump(const TTcpReply& reply) {
    std::string out = std::to_string(reply.Code) + "|";
    for (const std::string& line : reply.Text)
        out += "[" + line + "]";
    return out;
}

} // namespace

TEST(TcpClient, ReadsRepliesByTheFramingRules) {
    struct TCase {
        const char* Name;
        std::string Input;
        const char* Expected;
    } cases[] = {
        {"single line", "200 OK\r\n", "200|[OK]"},
        {"continuation lines end at a space", "200-one\r\n200-two\r\n200 three\r\n",
         "200|[one][two][three]"},
        {"bare LF and dropped CR", "201 alarm\n", "201|[alarm]"},
        {"blank lines skipped, lines trimmed", "\r\n  \t\r\n  206-a b  \r\n206 c\r\n",
         "206|[a b][c]"},
        {"a line shorter than four characters ends the reply", "200-x\r\n200\r\n", "200|[x][]"},
        {"the code is the first line's", "207-x\r\n200 y\r\n", "207|[x][y]"},
        {"a code that is not a number reads as 0", "abc ready\r\n", "0|[ready]"},
        {"bytes above 127 read as ?", "206 Hei \xe4iti \xc3\xa4\r\n", "206|[Hei ?iti ??]"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPair pair;
        pair.Send(c.Input);
        EXPECT_EQ(Dump(pair.Client.GetResponse()), c.Expected);
    }
}

TEST(TcpClient, WholeTextJoinsLinesAndRequiredCodeFailsWithTheText) {
    TPair pair;
    pair.Send("201- Murto \r\n201 =http://x\r\n");
    TTcpReply reply = pair.Client.GetResponse();
    EXPECT_EQ(reply.WholeText(), "Murto\r\n=http://x");

    pair.Send("500-Employee number\r\n500 not valid!\r\n");
    try {
        pair.Client.GetResponse(200);
        FAIL() << "a wrong code must fail";
    } catch (const EReplyError& e) {
        EXPECT_STREQ(e.what(), "Employee number\r\nnot valid!");
    }
}

TEST(TcpClient, LineLengthBoundIsAnErrorNotATruncation) {
    const std::string full(TTcpClient::MaxLineLength, 'x');
    struct TCase {
        const char* Name;
        std::string Input;
        bool Fails;
    } cases[] = {
        {"full-length line with CR LF", full + "\r\n", false},
        {"full-length line with LF", full + "\n", false},
        {"one byte over, with CR LF", full + "y\r\n", true},
        {"one byte over, with LF", full + "y\n", true},
        {"no line end in sight", full + full, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPair pair;
        std::thread writer([&] { pair.Send(c.Input); });
        if (c.Fails) {
            try {
                pair.Client.ReadLn();
                ADD_FAILURE() << "an over-long line must fail";
            } catch (const ESocketError& e) {
                EXPECT_NE(std::string(e.what()).find("longer than 16384"), std::string::npos)
                    << e.what();
            }
        } else {
            EXPECT_EQ(pair.Client.ReadLn().size(), TTcpClient::MaxLineLength);
        }
        writer.join();
    }
}

TEST(TcpClient, UnendingRepliesHitTheTimeAndSizeBounds) {
    {
        SCOPED_TRACE("continuation announced, then silence");
        TPair pair;
        pair.Client.ReadTimeout = 100;
        pair.Send("200-first\r\n");
        EXPECT_THROW(pair.Client.GetResponse(), ESocketError);
    }
    {
        SCOPED_TRACE("continuation lines without end");
        TPair pair;
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            std::string line = "200-" + std::string(1000, 'z') + "\r\n";
            while (!stop.load() && ::write(pair.Peer, line.data(), line.size()) > 0) {}
        });
        try {
            pair.Client.GetResponse();
            ADD_FAILURE() << "an unending reply must fail";
        } catch (const ESocketError& e) {
            EXPECT_NE(std::string(e.what()).find("reply longer"), std::string::npos) << e.what();
        }
        stop.store(true);
        pair.Client.Disconnect();
        writer.join();
    }
    {
        SCOPED_TRACE("peer closes mid-reply");
        TPair pair;
        pair.Send("200-first\r\n200-sec");
        pair.ClosePeer();
        EXPECT_THROW(pair.Client.GetResponse(), ESocketError);
    }
}

TEST(TcpClient, PayloadsAreBigEndianAndBounded) {
    struct TCase {
        const char* Name;
        std::string Input;
        bool ClosePeer;
        const char* Error; // nullptr: the payload reads
        const char* Expected;
    } cases[] = {
        {"payload", BigEndian(5) + "hello+rest", false, nullptr, "hello"},
        {"empty payload", BigEndian(0), false, nullptr, ""},
        {"negative length", BigEndian(-1) + "xxxx", false, "Payload length -1 is out of range",
         nullptr},
        {"length past the bound", BigEndian(TTcpClient::MaxPayloadLength + 1), false,
         "Payload length 536870913 is out of range", nullptr},
        {"largest length, cut short", BigEndian(0x7fffffff) + "abc", true,
         "Payload length 2147483647 is out of range", nullptr},
        {"cut short by a disconnect", BigEndian(16) + "abcd", true,
         "Connection closed by the server after 4 of 16 payload bytes", nullptr},
        {"length itself cut short", std::string("\0\0", 2), true, "Connection closed by the server",
         nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPair pair;
        pair.Send(c.Input);
        if (c.ClosePeer) pair.ClosePeer();
        TMemoryStream stream;
        if (c.Error) {
            try {
                pair.Client.ReadPayload(stream);
                ADD_FAILURE() << "must fail";
            } catch (const ESocketError& e) {
                EXPECT_STREQ(e.what(), c.Error);
            }
            // Nothing was reserved for what did not arrive.
            EXPECT_LE(stream.Capacity(), 8192);
        } else {
            pair.Client.ReadPayload(stream);
            EXPECT_EQ(std::string(static_cast<char*>(stream.Memory()),
                                  static_cast<size_t>(stream.GetSize())),
                      c.Expected);
        }
    }
}

TEST(TcpClient, LargePayloadArrivesWhole) {
    TPair pair;
    std::string payload(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7 + i / 251);
    std::thread writer(
        [&] { pair.Send(BigEndian(static_cast<int32_t>(payload.size())) + payload); });
    TMemoryStream stream;
    pair.Client.ReadPayload(stream);
    writer.join();
    ASSERT_EQ(stream.GetSize(), static_cast<int64_t>(payload.size()));
    EXPECT_EQ(std::memcmp(stream.Memory(), payload.data(), payload.size()), 0);
}

TEST(TcpClient, CommandLinesAreSevenBitAndSingleLine) {
    struct TCase {
        const char* Name;
        const char* Text;
        const char* Wire;
    } cases[] = {
        {"plain", "Poll", "Poll\r\n"},
        {"letters outside ASCII", "\xc3\x84ij\xc3\xa4 M\xc3\xbcller", "?ij? M?ller\r\n"},
        {"a line break cannot start a second command", "Alarm x\r\nDisarmPartition 5",
         "Alarm x??DisarmPartition 5\r\n"},
        {"malformed UTF-8",
         "a\xff"
         "b",
         "a?b\r\n"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPair pair;
        pair.Client.WriteLn(c.Text);
        EXPECT_EQ(pair.ReadPeer(), c.Wire);
    }
}

TEST(TcpClient, WakeEndsADataWaitAndIsNotLost) {
    TPair pair;
    // A wake that comes before the wait still ends it.
    pair.Client.Wake();
    EXPECT_FALSE(pair.Client.WaitForData(60000));

    auto started = std::chrono::steady_clock::now();
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pair.Client.Wake();
    });
    EXPECT_FALSE(pair.Client.WaitForData(60000));
    waker.join();
    // Far below the minute the wait would otherwise take; this checks the wake, not a speed.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));

    pair.Send("200 x\r\n");
    EXPECT_TRUE(pair.Client.WaitForData(60000));
    EXPECT_EQ(pair.Client.GetResponse().Code, 200);
    EXPECT_FALSE(pair.Client.WaitForData(0));
}

TEST(TcpClient, ConnectsOverLoopbackAndReportsFailures) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t length = sizeof local;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&local), &length);
    uint16_t port = ntohs(local.sin_port);

    TTcpClient client;
    client.Connect("127.0.0.1:" + std::to_string(port), 4704, 2000);
    EXPECT_TRUE(client.Connected());
    int served = ::accept(listener, nullptr, nullptr);
    ::write(served, "200-a\r\n200 b\r\n", 14);
    EXPECT_EQ(client.GetResponse(200).Text.size(), 2u);
    client.Disconnect();
    EXPECT_FALSE(client.Connected());
    EXPECT_THROW(client.WriteLn("Poll"), ESocketError);
    ::close(served);
    ::close(listener);

    // The port is free again: nothing listens there now.
    EXPECT_THROW(client.Connect("127.0.0.1", port, 2000), ESocketError);
    EXPECT_THROW(client.Connect("127.0.0.1:99999", 4704, 2000), ESocketError);
    EXPECT_THROW(client.Connect("127.0.0.1:", 4704, 2000), ESocketError);
    EXPECT_FALSE(client.Connected());
}
