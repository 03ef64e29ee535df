#pragma once

#include <cstdint>
#include <string>

// The diagnostic channel: framed lines written to a FIFO named "DebugPipe" followed by the
// executable's name, in $XDG_RUNTIME_DIR (or /tmp), for an external viewer that created it.
// It is disabled unless someone enables it, and while disabled lines are dropped.
//
// Frame (little-endian): OLE date of the local time (8), process id (4), thread id (4),
// text length n (4), reserved 0 (4), then n bytes of text in the single-byte code page.
class TDebugPipe {
public:
    TDebugPipe() = default;
    ~TDebugPipe();
    TDebugPipe(const TDebugPipe&) = delete;
    TDebugPipe& operator=(const TDebugPipe&) = delete;

    // The one process-wide channel, created disabled on first use.
    static TDebugPipe& Instance();

    bool Enabled() const { return FEnabled; }
    // Enabling records the executable's name and the process id and leaves the pipe to be
    // opened by the next line; disabling closes it.
    void SetEnabled(bool value);

    void Write(const std::string& text);

    // The FIFO path the channel writes to (valid once enabled).
    std::string PipePath() const;
    const std::string& ExeName() const { return FExeName; }
    bool IsConnected() const { return FPipeHandle >= 0; }

    // The frame for a line, as written; exposed for the viewer side and for tests.
    static std::string BuildMessage(double timeStamp, uint32_t processId, uint32_t threadId,
                                    const std::string& text);

private:
    void Close();

    bool FEnabled = false;
    int FPipeHandle = -1;
    std::string FExeName;
    uint32_t FProcessId = 0;
};
