#include "LineLock.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char LOCK_DIR[] = "/run/lock";
const char LOCK_PREFIX[] = "LCK..";

// The process that holds a flock on the file open on `fd`, from the
// kernel's table of locks; 0 when none is listed.
long FlockHolder(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0) return 0;
    std::FILE* locks = std::fopen("/proc/locks", "r");
    if (locks == nullptr) return 0;
    char line[256];
    long holder = 0;
    while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
        char kind[16];
        long pid = 0;
        unsigned maj = 0, min = 0;
        unsigned long inode = 0;
        // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:6 0 EOF"; waiters have "->" and do not match.
        if (std::sscanf(line, "%*d: %15s %*s %*s %ld %x:%x:%lu", kind, &pid, &maj, &min, &inode) == 5 &&
            std::strcmp(kind, "FLOCK") == 0 && inode == st.st_ino && makedev(maj, min) == st.st_dev)
            holder = pid;
    }
    std::fclose(locks);
    return holder;
}

}  // namespace

std::string LineLockFilePath(const std::string& devicePath)
{
    char real[PATH_MAX];
    std::string path = realpath(devicePath.c_str(), real) != nullptr ? real : devicePath;
    std::string name;
    if (path.rfind("/dev/", 0) == 0) {
        name = path.substr(5);
        for (char& c : name) {
            if (c == '/') c = '_';
        }
    } else {
        name = path.substr(path.find_last_of('/') + 1);
    }
    return std::string(LOCK_DIR) + "/" + LOCK_PREFIX + name;
}

bool ProcessAlive(long pid)
{
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

long LockFilePid(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return 0;
    long pid = 0;
    if (std::fscanf(file, "%ld", &pid) != 1) pid = 0;
    std::fclose(file);
    return pid;
}

std::string ProcessLabel(long pid)
{
    std::string label = "pid " + std::to_string(pid);
    std::FILE* comm = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "r");
    if (comm == nullptr) return label;
    char name[64] = {};
    if (std::fgets(name, sizeof name, comm) != nullptr) {
        name[std::strcspn(name, "\n")] = '\0';
        if (name[0] != '\0') label = std::string(name) + " (" + label + ")";
    }
    std::fclose(comm);
    return label;
}

LineLock::~LineLock()
{
    Release();
}

bool LineLock::Acquire(int fd, const std::string& path, std::string& error)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        long holder = errno == EWOULDBLOCK ? FlockHolder(fd) : 0;
        error = path + " is in use: " + (holder != 0 ? ProcessLabel(holder) : std::string("another program")) +
                " holds a lock on it";
        return false;
    }
    fd_ = fd;

    // A lock directory this user may not write to leaves the other two locks.
    const std::string file = LineLockFilePath(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        int lock = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
        if (lock >= 0) {
            char text[16];
            int n = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
            bool written = write(lock, text, static_cast<size_t>(n)) == n;
            close(lock);
            if (written)
                lockFile_ = file;
            else
                unlink(file.c_str());
            break;
        }
        if (errno != EEXIST) break;
        long pid = LockFilePid(file);
        if (pid == 0) {
            // Written by a program we cannot read: it is not ours to remove.
            error = path + " may be in use: its lock file " + file + " names no process";
            error += "; remove it if no program uses the line";
            Release();
            return false;
        }
        if (ProcessAlive(pid) && pid != getpid()) {
            error = path + " is in use: " + ProcessLabel(pid) + " holds its lock file " + file;
            Release();
            return false;
        }
        // Left by a program that has ended: the lock is free.
        unlink(file.c_str());
    }

    // Root is not kept out by this one, but every other user is.
    ioctl(fd, TIOCEXCL);
    return true;
}

void LineLock::Release()
{
    if (!lockFile_.empty() && LockFilePid(lockFile_) == static_cast<long>(getpid())) unlink(lockFile_.c_str());
    lockFile_.clear();
    if (fd_ >= 0) {
        ioctl(fd_, TIOCNXCL);
        flock(fd_, LOCK_UN);
    }
    fd_ = -1;
}
