#include "TcpClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "CodePage.h"
#include "SysUtils.h"

namespace {

uint64_t NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

int RemainingMs(uint64_t deadline) {
    uint64_t now = NowMs();
    if (now >= deadline) return 0;
    uint64_t left = deadline - now;
    return left > 1000000000 ? 1000000000 : static_cast<int>(left);
}

[[noreturn]] void FailErrno(const std::string& what, int error) {
    throw ESocketError(what + ": " + std::strerror(error));
}

void SplitHostPort(const std::string& host, uint16_t defaultPort, std::string& address,
                   uint16_t& port) {
    address = host;
    port = defaultPort;
    size_t colon = host.rfind(':');
    if (colon == std::string::npos) return;
    int32_t value = 0;
    std::string_view digits = std::string_view(host).substr(colon + 1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos ||
        !TryStrToInt(digits, value) || value < 1 || value > 65535)
        throw ESocketError("Invalid port in server address \"" + host + "\"");
    address = host.substr(0, colon);
    port = static_cast<uint16_t>(value);
}

} // namespace

std::string TTcpReply::JoinedText() const {
    std::string joined;
    for (size_t i = 0; i < Text.size(); ++i) {
        if (i > 0) joined += "\r\n";
        joined += Text[i];
    }
    return joined;
}

std::string TTcpReply::WholeText() const {
    return Trim(JoinedText());
}

std::string ToProtocolLine(std::string_view text) {
    std::string line = Utf8ToAnsi(text);
    for (char& c : line)
        if (static_cast<unsigned char>(c) > 127 || c == '\r' || c == '\n') c = '?';
    return line;
}

TTcpClient::TTcpClient() {
    FWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FWakeFd < 0) FailErrno("Cannot create the wake-up descriptor", errno);
}

TTcpClient::~TTcpClient() {
    Disconnect(false);
    ::close(FWakeFd);
}

void TTcpClient::Connect(const std::string& host, uint16_t defaultPort, uint32_t timeoutMs) {
    Disconnect(false);
    std::string address;
    uint16_t port = 0;
    SplitHostPort(host, defaultPort, address, port);

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(address.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found)
        throw ESocketError("Cannot resolve \"" + address + "\": " + ::gai_strerror(rc));
    sockaddr_in target{};
    std::memcpy(&target, found->ai_addr, sizeof target);
    ::freeaddrinfo(found);
    target.sin_port = htons(port);

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) FailErrno("Cannot create a socket", errno);
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    if (rc < 0 && errno != EINPROGRESS) {
        int error = errno;
        ::close(fd);
        FailErrno("Cannot connect to " + address + ":" + std::to_string(port), error);
    }
    if (rc < 0) {
        pollfd p{fd, POLLOUT, 0};
        uint64_t deadline = NowMs() + timeoutMs;
        int ready;
        do {
            ready = ::poll(&p, 1, RemainingMs(deadline));
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) {
            ::close(fd);
            throw ESocketError("Connect to " + address + ":" + std::to_string(port) + " timed out");
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (ready < 0)
            error = errno;
        else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
            error = errno;
        if (error != 0) {
            ::close(fd);
            FailErrno("Cannot connect to " + address + ":" + std::to_string(port), error);
        }
    }
    Attach(fd);
}

void TTcpClient::Attach(int socket) {
    Disconnect(false);
    int flags = ::fcntl(socket, F_GETFL);
    if (flags >= 0) ::fcntl(socket, F_SETFL, flags | O_NONBLOCK);
    // Commands and replies are single short lines: send them at once rather than coalesced.
    int one = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FSocket = socket;
}

void TTcpClient::Disconnect(bool notifyPeer) {
    if (FSocket >= 0) {
        if (notifyPeer) ::shutdown(FSocket, SHUT_WR);
        ::close(FSocket);
        FSocket = -1;
    }
    FInput.clear();
    FInputStart = 0;
}

void TTcpClient::CheckOpen() const {
    if (FSocket < 0) throw ESocketError("Not connected");
}

void TTcpClient::WriteAll(const char* data, size_t count) {
    CheckOpen();
    uint64_t deadline = NowMs() + ReadTimeout;
    while (count > 0) {
        ssize_t n = ::send(FSocket, data, count, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{FSocket, POLLOUT, 0};
            int ready = ::poll(&p, 1, RemainingMs(deadline));
            if (ready == 0) throw ESocketError("Write timed out");
            continue;
        }
        FailErrno("Write failed", n < 0 ? errno : EPIPE);
    }
}

void TTcpClient::WriteLn(std::string_view text) {
    std::string line = ToProtocolLine(text);
    if (OnLineSent) OnLineSent(line);
    line += "\r\n";
    WriteAll(line.data(), line.size());
}

void TTcpClient::WriteRaw(const void* data, size_t count) {
    WriteAll(static_cast<const char*>(data), count);
}

void TTcpClient::WritePayload(const void* data, size_t count) {
    if (count > static_cast<size_t>(MaxPayloadLength))
        throw ESocketError("Payload of " + std::to_string(count) + " bytes is too long");
    uint32_t length = htonl(static_cast<uint32_t>(count));
    WriteAll(reinterpret_cast<const char*>(&length), sizeof length);
    WriteAll(static_cast<const char*>(data), count);
}

void TTcpClient::Compact() {
    if (FInputStart == FInput.size()) {
        FInput.clear();
        FInputStart = 0;
    } else if (FInputStart > 65536 && FInputStart * 2 > FInput.size()) {
        FInput.erase(FInput.begin(), FInput.begin() + static_cast<ptrdiff_t>(FInputStart));
        FInputStart = 0;
    }
}

void TTcpClient::Receive(uint64_t deadline) {
    CheckOpen();
    Compact();
    char chunk[65536];
    for (;;) {
        ssize_t n = ::recv(FSocket, chunk, sizeof chunk, 0);
        if (n > 0) {
            FInput.insert(FInput.end(), chunk, chunk + n);
            return;
        }
        if (n == 0) throw ESocketError("Connection closed by the server");
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) FailErrno("Read failed", errno);
        pollfd p{FSocket, POLLIN, 0};
        int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready == 0) throw ESocketError("Read timed out");
        if (ready < 0 && errno != EINTR) FailErrno("Read failed", errno);
    }
}

std::string TTcpClient::ReadLnUntil(uint64_t deadline) {
    size_t searched = 0;
    for (;;) {
        const char* begin = FInput.data() + FInputStart;
        size_t available = FInput.size() - FInputStart;
        // A CR may stand before the LF, so the LF of a full-length line can be one byte further.
        size_t window = std::min(available, MaxLineLength + 2);
        const void* lf =
            searched < window ? std::memchr(begin + searched, '\n', window - searched) : nullptr;
        if (lf) {
            size_t length = static_cast<size_t>(static_cast<const char*>(lf) - begin);
            std::string line(begin, length);
            FInputStart += length + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > MaxLineLength)
                throw ESocketError("Received a line longer than " + std::to_string(MaxLineLength) +
                                   " bytes");
            for (char& c : line)
                if (static_cast<unsigned char>(c) > 127) c = '?';
            if (OnLineReceived) OnLineReceived(line);
            return line;
        }
        if (available >= MaxLineLength + 2)
            throw ESocketError("Received a line longer than " + std::to_string(MaxLineLength) +
                               " bytes");
        searched = window;
        Receive(deadline);
    }
}

std::string TTcpClient::ReadLn() {
    return ReadLnUntil(NowMs() + ReadTimeout);
}

TTcpReply TTcpClient::GetResponse() {
    uint64_t deadline = NowMs() + ReadTimeout;
    TTcpReply reply;
    size_t total = 0;
    for (;;) {
        std::string line = Trim(ReadLnUntil(deadline));
        if (line.empty()) continue;
        total += line.size();
        if (total > MaxReplyLength)
            throw ESocketError("Received a reply longer than " + std::to_string(MaxReplyLength) +
                               " bytes");
        if (reply.Text.empty()) {
            reply.CodeText = line.substr(0, 3);
            int32_t code = 0;
            bool digits = reply.CodeText.size() == 3 &&
                          reply.CodeText.find_first_not_of("0123456789") == std::string::npos;
            reply.Code = digits && TryStrToInt(reply.CodeText, code) ? code : 0;
        }
        reply.Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
        if (line.size() < 4 || line[3] != '-') return reply;
    }
}

TTcpReply TTcpClient::GetResponse(int requiredCode) {
    TTcpReply reply = GetResponse();
    if (requiredCode >= 0 && reply.Code != requiredCode) throw EReplyError(reply.JoinedText());
    return reply;
}

TTcpReply TTcpClient::SendCmd(std::string_view command, int requiredCode) {
    WriteLn(command);
    return GetResponse(requiredCode);
}

void TTcpClient::ReadPayload(TStream& dest) {
    uint64_t deadline = NowMs() + ReadTimeout;
    while (FInput.size() - FInputStart < 4)
        Receive(deadline);
    uint32_t raw;
    std::memcpy(&raw, FInput.data() + FInputStart, 4);
    FInputStart += 4;
    int32_t length = static_cast<int32_t>(ntohl(raw));
    if (length < 0 || length > MaxPayloadLength)
        throw ESocketError("Payload length " + std::to_string(length) + " is out of range");

    // Grow a memory stream in doubling steps towards the announced length, so memory follows the
    // bytes that actually arrive and never the length alone.
    auto* memory = dynamic_cast<TMemoryStream*>(&dest);
    int64_t start = dest.GetPosition();
    int64_t done = 0;
    while (done < length) {
        if (!InputBuffered()) {
            try {
                Receive(NowMs() + ReadTimeout);
            } catch (const ESocketError& e) {
                throw ESocketError(std::string(e.what()) + " after " + std::to_string(done) +
                                   " of " + std::to_string(length) + " payload bytes");
            }
        }
        size_t available = FInput.size() - FInputStart;
        size_t take = std::min<size_t>(available, static_cast<size_t>(length - done));
        if (memory) {
            int64_t needed = start + done + static_cast<int64_t>(take);
            if (needed > memory->Capacity())
                memory->SetCapacity(
                    std::min<int64_t>(start + length, std::max(memory->Capacity() * 2, needed)));
        }
        dest.WriteBuffer(FInput.data() + FInputStart, static_cast<int64_t>(take));
        FInputStart += take;
        done += static_cast<int64_t>(take);
        Compact();
    }
}

bool TTcpClient::WaitForData(uint32_t timeoutMs) {
    CheckOpen();
    if (InputBuffered()) return true;
    pollfd p[2] = {{FSocket, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(p, 2, static_cast<int>(timeoutMs));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) FailErrno("Wait for data failed", errno);
    if (p[1].revents & POLLIN) {
        uint64_t count;
        while (::read(FWakeFd, &count, sizeof count) > 0) {}
    }
    return (p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

void TTcpClient::Wake() {
    uint64_t one = 1;
    // A full counter already means "wake up"; nothing is lost when the write fails.
    [[maybe_unused]] ssize_t n = ::write(FWakeFd, &one, sizeof one);
}
