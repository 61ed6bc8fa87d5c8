// Test-side helpers for driving pdasim: a client on the slave side of its
// pseudo-terminal (built on the same frame codec as the library), and the
// simulator process itself.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "FrameCodec.h"

using Bytes = std::vector<uint8_t>;

class PtyClient {
public:
    ~PtyClient();
    bool Open(const std::string& path);
    // Uses a copy of an fd already open (a pty master of the test's own).
    bool Adopt(int fd);
    void Close();

    bool WriteRaw(const Bytes& bytes);
    bool SendMessage(const Bytes& message);
    // Next good frame's payload within `timeoutMs`; false on time-out.
    bool ReceiveMessage(Bytes& message, int timeoutMs);
    // Every byte read so far, raw, in order.
    const Bytes& rawSeen() const { return raw_; }

    LinkStatistics stats;

private:
    bool ReadSome(int timeoutMs);

    int fd_ = -1;
    FrameReceiver receiver_{stats};
    std::deque<uint8_t> pending_;
    Bytes raw_;
};

class SimProcess {
public:
    ~SimProcess();
    // Starts pdasim (or `program`, a tool that prints a ready line as
    // pdasim does) with `args` and waits up to 5 s for its ready line.
    bool Start(const std::vector<std::string>& args, std::string& readyLine, const char* program = nullptr);
    // SIGTERM, then waits up to 5 s; returns the exit status or -1.
    int Stop();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
};

// A fresh directory under /tmp, removed with its content by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};
