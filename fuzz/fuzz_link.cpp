// Plays arbitrary server bytes to the client side of a whole conversation: greeting, login,
// settings, then Poll cycles until the bytes run out. Whatever the server sends must end in a
// clean error, never a crash, a hang or an unbounded allocation.
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "ConnectThread.h"

namespace {

class TDiscardingHost : public IConnectThreadHost {
public:
    void PostMessage(TMessage) override {}
    std::string UpdaterPath() const override {
        return "/tmp/gc_fuzz_link_updater." + std::to_string(::getpid());
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    // Everything the server says is there at once, followed by the end of the stream, so every
    // read ends in data or in the disconnect and nothing waits.
    int buffer = 4 * 1024 * 1024;
    ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    size_t written = 0;
    while (written < size) {
        ssize_t n = ::write(fds[1], data + written, size - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    ::shutdown(fds[1], SHUT_WR);

    TDiscardingHost host;
    TTcpClient client;
    client.Attach(fds[0]);
    client.ReadTimeout = 1000;
    TServerLine line(client);
    {
        TConnectThread thread(host, line);
        thread.Timings.IdleDataCheck = 0;
        thread.Timings.IdleWaitBound = 0;
        thread.StationIdent = "7";
        thread.UserName = "fuzz";
        try {
            thread.LoginExchanges();
            while (client.Connected())
                thread.PollCycle();
        } catch (const std::exception&) {}
    }
    ::close(fds[1]);
    std::remove(host.UpdaterPath().c_str());
    return 0;
}
