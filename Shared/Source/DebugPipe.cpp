#include "DebugPipe.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "CodePage.h"
#include "SysUtils.h"

namespace {

std::string OwnExeName() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "unknown";
    std::string full(path, static_cast<size_t>(n));
    size_t slash = full.rfind('/');
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

void PutLE(std::string& out, const void* value, size_t size) {
    out.append(static_cast<const char*>(value), size);
}

} // namespace

TDebugPipe& TDebugPipe::Instance() {
    static TDebugPipe instance;
    return instance;
}

TDebugPipe::~TDebugPipe() {
    SetEnabled(false);
}

void TDebugPipe::SetEnabled(bool value) {
    if (value == FEnabled) return;
    if (value) {
        FPipeHandle = -1;
        FExeName = OwnExeName();
        FProcessId = static_cast<uint32_t>(::getpid());
    } else {
        Close();
    }
    FEnabled = value;
}

std::string TDebugPipe::PipePath() const {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = dir && *dir ? dir : "/tmp";
    return folder + "/DebugPipe" + FExeName;
}

void TDebugPipe::Close() {
    if (FPipeHandle >= 0) ::close(FPipeHandle);
    FPipeHandle = -1;
}

std::string TDebugPipe::BuildMessage(double timeStamp, uint32_t processId, uint32_t threadId,
                                     const std::string& text) {
    std::string ansi = Utf8ToAnsi(text);
    auto length = static_cast<uint32_t>(ansi.size());
    uint32_t reserved = 0;
    std::string message;
    message.reserve(24 + ansi.size());
    PutLE(message, &timeStamp, 8);
    PutLE(message, &processId, 4);
    PutLE(message, &threadId, 4);
    PutLE(message, &length, 4);
    PutLE(message, &reserved, 4);
    message += ansi;
    return message;
}

void TDebugPipe::Write(const std::string& text) {
    if (!FEnabled) return;
    if (FPipeHandle < 0) {
        // Only an existing FIFO with a reader: O_NONBLOCK makes the open fail at once otherwise.
        int handle = ::open(PipePath().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (handle < 0) return;
        struct stat info;
        if (::fstat(handle, &info) != 0 || !S_ISFIFO(info.st_mode)) {
            ::close(handle);
            return;
        }
        FPipeHandle = handle;
    }
    std::string message =
        BuildMessage(Now(), FProcessId, static_cast<uint32_t>(::syscall(SYS_gettid)), text);

    // A reader that went away would raise SIGPIPE; keep it to this thread and discard it.
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    ssize_t written = ::write(FPipeHandle, message.data(), message.size());
    bool failed = written != static_cast<ssize_t>(message.size());
    if (failed && written < 0 && errno == EPIPE) {
        timespec zero{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (failed) Close();
}
