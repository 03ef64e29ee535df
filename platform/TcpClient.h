#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Classes.h"
#include "Exception.h"

// Every failure of the connection itself: refused or timed-out connect, a broken or closed
// line, a time-out while reading, input that breaks the framing bounds.
GC_DECLARE_EXCEPTION(ESocketError, Exception);
// A reply whose code is not the one the exchange required; the message is the reply text.
GC_DECLARE_EXCEPTION(EReplyError, Exception);

// One numbered reply: its code and the text of each of its lines.
struct TTcpReply {
    // The first three characters of the first line as a number, 0 when they are not one.
    int Code = 0;
    std::string CodeText;
    std::vector<std::string> Text;

    // The lines joined with CR LF.
    std::string JoinedText() const;
    // JoinedText with leading and trailing blanks and control characters removed.
    std::string WholeText() const;
};

// Converts internal UTF-8 text to a 7-bit command line: every character outside ASCII becomes
// "?", and so do CR and LF, which would otherwise end the command early and turn one exchange
// into two.
std::string ToProtocolLine(std::string_view text);

// A TCP client for the server's line protocol over POSIX sockets. Commands go out as 7-bit lines
// ended by CR LF; replies come back as lines ended by LF (a CR before it is dropped), at most
// MaxLineLength bytes each, bytes above 127 read as "?". Binary payloads are a big-endian 4-byte
// length and that many bytes.
//
// One thread uses the client at a time (the caller's lock sees to that), except Wake, which any
// thread may call to cut short a WaitForData in progress.
class TTcpClient {
public:
    static constexpr uint32_t DefaultConnectTimeout = 5000;
    // Bounds each blocking read, so a peer that stops half-way through a reply cannot hold the
    // line forever; a whole reply must arrive within it, and a payload may not stall for longer.
    static constexpr uint32_t DefaultReadTimeout = 60000;
    static constexpr size_t MaxLineLength = 16384;
    // A reply that keeps sending continuation lines is cut off here rather than read for ever.
    static constexpr size_t MaxReplyLength = 4 * 1024 * 1024;
    // A payload longer than this is refused before anything is allocated for it.
    static constexpr int32_t MaxPayloadLength = 512 * 1024 * 1024;

    TTcpClient();
    ~TTcpClient();
    TTcpClient(const TTcpClient&) = delete;
    TTcpClient& operator=(const TTcpClient&) = delete;

    // Opens an IPv4 connection. host is an address or name, optionally followed by ":port",
    // which then replaces defaultPort.
    void Connect(const std::string& host, uint16_t defaultPort,
                 uint32_t timeoutMs = DefaultConnectTimeout);
    // Takes over a connected socket (a server's accepted connection); the client closes it.
    void Attach(int socket);
    bool Connected() const { return FSocket >= 0; }
    int Handle() const { return FSocket; }
    // Closes the connection and forgets unread input. With notifyPeer the peer sees an orderly
    // end of stream; without, the socket is simply dropped.
    void Disconnect(bool notifyPeer = true);

    void WriteLn(std::string_view text);
    void WriteRaw(const void* data, size_t count);
    // Writes a payload: the big-endian length, then the bytes.
    void WritePayload(const void* data, size_t count);

    std::string ReadLn();
    // Reads one reply: lines until the first shorter than four characters or whose fourth
    // character is a space; a "-" there announces another line.
    TTcpReply GetResponse();
    // As GetResponse, failing with EReplyError (message: the reply text) on another code.
    TTcpReply GetResponse(int requiredCode);
    // One exchange: the command line, then its reply; requiredCode < 0 accepts any code.
    TTcpReply SendCmd(std::string_view command, int requiredCode = -1);
    // Reads a length-prefixed payload into dest at its position.
    void ReadPayload(TStream& dest);

    // True when input is waiting (or the peer has closed, which a read then reports); false when
    // timeoutMs passed or Wake was called. The wait is the only one Wake interrupts.
    bool WaitForData(uint32_t timeoutMs);
    bool InputBuffered() const { return FInputStart < FInput.size(); }
    void Wake();

    uint32_t ReadTimeout = DefaultReadTimeout;

    // Observers for logs: each line as it goes out or comes in (without its terminator).
    std::function<void(const std::string&)> OnLineSent;
    std::function<void(const std::string&)> OnLineReceived;

private:
    void CheckOpen() const;
    // Receives at least one more byte into the input buffer before the deadline; raises when
    // the peer closes, the read fails or the deadline passes.
    void Receive(uint64_t deadline);
    std::string ReadLnUntil(uint64_t deadline);
    void WriteAll(const char* data, size_t count);
    void Compact();

    int FSocket = -1;
    int FWakeFd = -1;
    std::vector<char> FInput;
    size_t FInputStart = 0;
};
