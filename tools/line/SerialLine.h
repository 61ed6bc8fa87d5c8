// A tool's end of the serial line: an existing line opened raw at the
// link's settings (a tty on POSIX, a COM port on Windows), or, on POSIX
// only, a pseudo-terminal of our own whose slave path is published through
// a symlink. SerialLinePosix.cpp and SerialLineWin32.cpp implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifndef _WIN32
#include "LineLock.h"
#endif

class SerialLine {
public:
    SerialLine() = default;
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Opens `path` raw at 57600 8N1, no flow control, kept from every other
    // program: locked (LineLock) on POSIX, opened exclusively on Windows,
    // where `path` is a port name (COM2) or its device form (\\.\COM2).
    // Errors name the path and the system's reason.
    bool OpenDevice(const std::string& path, std::string& error);
    // Turns on XON/XOFF in the line's settings (IXON and IXOFF; fOutX and
    // fInX), as a driver or an earlier program may have left them: whoever
    // opens the port next finds them there and must turn them off.
    bool SetSoftwareFlowControl(std::string& error);

    // Waits up to `timeoutMs` for bytes and reads what has arrived. Returns
    // the count; 0 when nothing came (no peer, time-out, interruption).
    size_t Read(uint8_t* buffer, size_t capacity, int timeoutMs);
    // Writes all bytes, waiting for room; false if the line stays full
    // for `stallMs` (nobody reads) or fails.
    bool Write(const uint8_t* data, size_t length, int stallMs);

#ifndef _WIN32
    // Creates a pty (raw, 57600 8N1) and keeps its slave open so that the
    // master stays readable while the peer has the port closed.
    bool CreatePty(std::string& error);
    // Points `link` at the pty's slave, replacing atomically an older symlink
    // to a pseudo-terminal (another simulator's, or one left by a killed
    // one). Anything else at `link` is refused and left as it is.
    bool PublishLink(const std::string& link, std::string& error);
    // Removes the published link if it still points at our slave.
    void RemoveLink();

    const std::string& slavePath() const
    {
        return slavePath_;
    }
    // The end this side reads and writes, for a caller that waits on more
    // than one line.
    int fd() const
    {
        return fd_;
    }
#endif

private:
#ifdef _WIN32
    void* handle_ = nullptr;  // the port's HANDLE, opened for overlapped I/O
    void* readEvent_ = nullptr;
    void* writeEvent_ = nullptr;
    unsigned long readTimeoutMs_ = 0;  // the driver's read time-out as last set; 0: not yet
    std::string devicePath_;
#else
    int fd_ = -1;       // the end we read and write
    int slaveFd_ = -1;  // held open for a pty of our own
    std::string slavePath_;
    std::string devicePath_;
    std::string link_;
    LineLock lock_;
#endif
};

#ifndef _WIN32
// True when `path` is a symlink to a pseudo-terminal's slave (whether or not
// that still exists): the only thing a tool of ours may replace or remove
// when it publishes a line.
bool IsPtyLink(const std::string& path);
// True when a line may be published at `link`: nothing is there, or a
// symlink to a pseudo-terminal. Else false with a message naming it.
bool LinkPlaceFree(const std::string& link, std::string& error);
#endif
