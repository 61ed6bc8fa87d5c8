// Keeps every other program off a serial line while a tool of ours uses it.
// Three locks, since programs look in different places: TIOCEXCL on the
// open line (the kernel refuses further opens, except to root), flock on it
// (seen by every program that locks, root's included), and a lock file of
// the UUCP kind in /run/lock (where minicom, picocom and Wine's users look).
// POSIX only.
#pragma once

#include <string>

// Where the lock file of a line goes: /run/lock/LCK..ttyUSB0 for
// /dev/ttyUSB0, the path below /dev with '/' as '_' (LCK..pts_3); for a
// line outside /dev, its file name.
std::string LineLockFilePath(const std::string& devicePath);

// The pid a lock file holds (ten digits and a newline, as UUCP writes it;
// some programs write it binary, which is not read here); 0 when unreadable.
long LockFilePid(const std::string& path);
// True while the process runs (also one of another user's).
bool ProcessAlive(long pid);

// Names a process for people: "ModemManager (pid 812)"; the pid alone when
// its name cannot be read.
std::string ProcessLabel(long pid);

class LineLock {
public:
    LineLock() = default;
    ~LineLock();
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;

    // Locks the line open on `fd`, whose path is `path`. False, with a
    // message that names the line and, where it can be found, the program
    // that holds it, when another program has it locked.
    bool Acquire(int fd, const std::string& path, std::string& error);
    // Gives up every lock taken; the lock file only while it is still ours.
    void Release();

private:
    int fd_ = -1;
    std::string lockFile_;
};
