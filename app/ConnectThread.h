#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "BaseProtocol.h"
#include "Messages.h"
#include "TcpClient.h"
#include "Thread.h"
#include "UtilityStream.h"

// The server link: the connection thread that owns the conversation with the monitoring server,
// the lock through which other threads borrow the line, and the records the thread hands to the
// user-interface thread. Nothing here needs a window or a toolkit.

constexpr uint16_t ServerPort = 4704;

// Messages the connection thread posts. WM_SERVER_EVENT carries the reply code (200 to 207) as
// its LParam.
constexpr uint32_t WM_CONNECTION_STATE = WM_USER + 1;
constexpr uint32_t WM_SERVER_EVENT = WM_USER + 2;
constexpr uint32_t WM_UPDATE_READY = WM_USER + 4;

// Intervals of the link. Each is a field of TConnectTimings with these values, so tests and
// tools can shorten them without waiting for real minutes.
constexpr uint32_t ReconnectSpacing = 30000; // between the starts of two connection attempts
constexpr uint32_t IdleWaitBound = 60000;    // longest idle wait after a 200 Poll reply
constexpr uint32_t IdleDataCheck = 150;      // one data check of the idle wait
constexpr uint32_t LoopSleep = 1;            // the pause of every pass of the main loop
constexpr uint32_t ConnectTimeout = TTcpClient::DefaultConnectTimeout;
// The "Quit" of a closing thread waits no longer than this, so a silent server cannot hold up
// the window that is closing.
constexpr uint32_t QuitReplyTimeout = 5000;

struct TConnectTimings {
    uint32_t ReconnectSpacing = ::ReconnectSpacing;
    uint32_t IdleWaitBound = ::IdleWaitBound;
    uint32_t IdleDataCheck = ::IdleDataCheck;
    uint32_t LoopSleep = ::LoopSleep;
    uint32_t ConnectTimeout = ::ConnectTimeout;
    uint32_t ReadTimeout = TTcpClient::DefaultReadTimeout;
    uint32_t QuitReplyTimeout = ::QuitReplyTimeout;
};

// Reason texts the thread reports with WM_CONNECTION_STATE.
extern const char* const TerminatingReason; // "Terminating"

// A text of any length: the connection-state reason, an alarm text, an operator message.
struct TextParcel {
    std::string Text;
};

// The server-side settings of one "GetSettings" reply.
struct SettingsRecord {
    std::string StationID;
    bool AutoStart = false;
    bool ConfirmNewAlarm = false;
    bool StopScreensaver = false;
    bool PopupAlarms = false;
    bool AlarmSound = false;
    bool PreventExit = false;
    int32_t DrawingVersion = 0;
    bool ClientsMode = false; // true exactly when the server says "Dynamic"
};

// The status of one object from a 207 reply; State holds a copy of the payload at position 0.
struct ObjStatusRecord {
    int32_t ObjectId = 0;
    std::string Name;
    std::unique_ptr<TBufferProtocol> State;
};

// The one connection and what guards it. Every use of the connection holds LineLock from the
// first byte written to the last byte read; LineWanted counts the threads waiting for it, and
// the connection thread's idle wait gives the line up as soon as it is non-zero.
class TServerLine {
public:
    explicit TServerLine(TTcpClient& connection)
        : Connection(connection) {}

    TTcpClient& Connection;
    std::recursive_mutex LineLock;
    std::atomic<int> LineWanted{0};
};

// The bracket every exchange outside the Poll cycle runs in: count in LineWanted and wake the
// idle wait, take LineLock; on leaving, count out, then release the lock.
class TLineBracket {
public:
    explicit TLineBracket(TServerLine& line);
    ~TLineBracket();
    TLineBracket(const TLineBracket&) = delete;
    TLineBracket& operator=(const TLineBracket&) = delete;

private:
    TServerLine& FLine;
};

// Exchanges of the user-interface thread, each in its own bracket. They raise on a wrong reply
// code or a broken line, like every exchange; a broken line is closed as well.
std::unique_ptr<TUtilityStream> RequestClients(TServerLine& line); // "GetClients", payload
void SendAlarm(TServerLine& line, const std::string& text);        // "Alarm <text>"
void SendDisarmPartition(TServerLine& line, int32_t partitionId);  // "DisarmPartition <id>"

// What the connection thread needs from its owner.
class IConnectThreadHost {
public:
    virtual ~IConnectThreadHost() = default;
    // Called on the connection thread; the message and its record belong to the receiver from
    // here on.
    virtual void PostMessage(TMessage message) = 0;
    // Where a downloaded updater is written.
    virtual std::string UpdaterPath() const = 0;
};

// The user name sent at login: the system's, or "Unknown" when it cannot tell.
std::string LoginUserName();

class TConnectThread : public TThread {
public:
    // Created suspended; set the fields, then Start. The owner terminates, waits and frees it.
    TConnectThread(IConnectThreadHost& owner, TServerLine& line);
    ~TConnectThread() override;

    // True when an update is needed: the version in line (the greeting's second text line,
    // everything after its first space) is newer than own major.minor. Raises EConvertError when
    // the numbers do not parse.
    static bool IsNewerVersion(const std::string& line, uint16_t ownMajor, uint16_t ownMinor);
    bool IsNewerVersion(const std::string& line) const;

    bool Connected() const { return FConnected.load(); }
    // Written by the user-interface thread to ask for a drawing download; also ends an idle
    // wait at once.
    void SetBackgroundWanted(bool wanted);
    bool BackgroundWanted() const { return FBackgroundWanted.load(); }

    // Set before Start.
    std::string Host = "127.0.0.1";
    std::string StationIdent;
    std::string UserName = LoginUserName();
    TConnectTimings Timings;

    // Of the previous Poll; kept across reconnections of this object. Read them only on the
    // connection thread or after it has ended.
    int32_t LastCode = 0;
    std::string LastText;

    // The steps of the conversation, run by Execute on the connection thread. They are public so
    // that a test harness can drive one conversation without the thread; every step raises on
    // failure and leaves the caller to drop the connection.
    // Connects, then runs LoginExchanges.
    void Login();
    // The login over a connection that is already open: greeting, identity, then the updater
    // or the settings.
    void LoginExchanges();
    void PollCycle();
    void FetchSettings();
    void FetchBackground();
    void DownloadUpgrade();
    void PostConnectionState(bool connected, const std::string& reason);

protected:
    void Execute() override;
    void TerminateRequested() override;

private:
    void PostEvent(int32_t kind, TMessageParam payload);
    void IdleWait(uint32_t pollTick);
    void SleepLoop();

    IConnectThreadHost& FOwner;
    TServerLine& FLine;
    TTcpClient& Connection;
    std::atomic<bool> FConnected{false};
    std::atomic<bool> FBackgroundWanted{false};
};
