#include "SerialLine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "LineSettings.h"

namespace {

const char PTY_SLAVE_DIR[] = "/dev/pts/";

// `path` names the line in messages.
bool MakeRaw(int fd, const std::string& path, std::string& error)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        error = errno == ENOTTY ? path + " is not a serial line (a terminal): " + std::strerror(errno)
                                : "cannot read the settings of " + path + ": " + std::strerror(errno);
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag &= ~(CSTOPB | PARENB | CSIZE | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    static_assert(LINE_BAUD_RATE == 57600 && LINE_DATA_BITS == 8, "termios names the line's rate and size");
    cfsetispeed(&t, B57600);
    cfsetospeed(&t, B57600);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        error = "cannot set " + path + " to 57600 8N1 raw: " + std::strerror(errno);
        return false;
    }
    return true;
}

void SleepMs(int ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

}  // namespace

bool IsPtyLink(const std::string& path)
{
    char target[PATH_MAX];
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) return false;
    target[n] = '\0';
    return std::strncmp(target, PTY_SLAVE_DIR, sizeof PTY_SLAVE_DIR - 1) == 0;
}

bool LinkPlaceFree(const std::string& link, std::string& error)
{
    struct stat st;
    if (lstat(link.c_str(), &st) != 0 || IsPtyLink(link)) return true;
    const char* what = "a file";
    if (S_ISDIR(st.st_mode))
        what = "a folder";
    else if (S_ISLNK(st.st_mode))
        what = "a link to something else than a pseudo-terminal";
    error = "cannot publish the line at " + link + ": " + what + " is there, and it is left alone";
    return false;
}

SerialLine::~SerialLine()
{
    RemoveLink();
    lock_.Release();
    if (fd_ >= 0) close(fd_);
    if (slaveFd_ >= 0) close(slaveFd_);
}

bool SerialLine::OpenDevice(const std::string& path, std::string& error)
{
    devicePath_ = path;
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    // The settings first: a path that is no line needs no lock.
    termios probe{};
    if (tcgetattr(fd_, &probe) != 0) return MakeRaw(fd_, path, error);
    return lock_.Acquire(fd_, path, error) && MakeRaw(fd_, path, error);
}

bool SerialLine::CreatePty(std::string& error)
{
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(fd_);
    if (name == nullptr) {
        error = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = name;
    slaveFd_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slaveFd_ < 0) {
        error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
        return false;
    }
    return MakeRaw(slaveFd_, slavePath_, error);
}

bool SerialLine::SetSoftwareFlowControl(std::string& error)
{
    const int fd = slaveFd_ >= 0 ? slaveFd_ : fd_;
    const std::string& path = slaveFd_ >= 0 ? slavePath_ : devicePath_;
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        error = "cannot read the settings of " + path + ": " + std::strerror(errno);
        return false;
    }
    t.c_iflag |= IXON | IXOFF;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        error = "cannot turn on XON/XOFF on " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool SerialLine::PublishLink(const std::string& link, std::string& error)
{
    if (!LinkPlaceFree(link, error)) return false;
    std::string temp = link + ".pdasim-" + std::to_string(getpid());
    if (IsPtyLink(temp)) unlink(temp.c_str());
    if (symlink(slavePath_.c_str(), temp.c_str()) != 0) {
        error = "cannot create link " + temp + ": " + std::strerror(errno);
        return false;
    }
    if (rename(temp.c_str(), link.c_str()) != 0) {
        error = "cannot rename link to " + link + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    link_ = link;
    return true;
}

void SerialLine::RemoveLink()
{
    if (link_.empty()) return;
    // A newer simulator may have taken the name over; leave its link alone.
    char target[PATH_MAX];
    ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
    if (n >= 0) {
        target[n] = '\0';
        if (slavePath_ == target) unlink(link_.c_str());
    }
    link_.clear();
}

size_t SerialLine::Read(uint8_t* buffer, size_t capacity, int timeoutMs)
{
    pollfd p{fd_, POLLIN, 0};
    int r = poll(&p, 1, timeoutMs);
    if (r <= 0) return 0;
    if (p.revents & POLLIN) {
        ssize_t n = read(fd_, buffer, capacity);
        if (n > 0) return static_cast<size_t>(n);
    }
    // EIO, a 0-byte read or a hang-up: nobody has the line open right now.
    // That is not the end; wait a little so the loop does not spin.
    SleepMs(20);
    return 0;
}

bool SerialLine::Write(const uint8_t* data, size_t length, int stallMs)
{
    size_t done = 0;
    int stalled = 0;
    while (done < length) {
        ssize_t n = write(fd_, data + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            stalled = 0;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != EIO) return false;
        if (stalled >= stallMs) return false;
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 10);
        stalled += 10;
    }
    return true;
}
