#include "PortCheck.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <signal.h>
#include <sys/types.h>

#include "LineLock.h"

namespace {

const char MODEM_MANAGER[] = "ModemManager";

std::string UserName()
{
    const passwd* user = getpwuid(geteuid());
    return user != nullptr ? user->pw_name : std::to_string(geteuid());
}

std::string GroupName(gid_t gid)
{
    const group* g = getgrgid(gid);
    return g != nullptr ? g->gr_name : std::to_string(gid);
}

std::string OwnerName(uid_t uid)
{
    const passwd* owner = getpwuid(uid);
    return owner != nullptr ? owner->pw_name : std::to_string(uid);
}

// "crw-rw---- root:dialout", as ls shows the mode.
std::string ModeText(const struct stat& st)
{
    std::string text = "c";
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (st.st_mode & (0400 >> bit)) != 0 ? letters[bit] : '-';
    return text + " " + OwnerName(st.st_uid) + ":" + GroupName(st.st_gid);
}

// The number of the pseudo-terminal whose slave `path` is (/dev/pts/3: 3), or -1.
long PtyIndex(const std::string& path)
{
    char real[PATH_MAX];
    if (realpath(path.c_str(), real) == nullptr) return -1;
    const char prefix[] = "/dev/pts/";
    if (std::strncmp(real, prefix, sizeof prefix - 1) != 0) return -1;
    char* end = nullptr;
    const long index = std::strtol(real + sizeof prefix - 1, &end, 10);
    return *end == '\0' && end != real + sizeof prefix - 1 ? index : -1;
}

// True when the descriptor `fd` of a process is the master of pseudo-terminal `index`.
bool IsPtyMaster(const std::string& fdDir, const std::string& fd, long index)
{
    char target[PATH_MAX];
    const ssize_t n = readlink((fdDir + "/" + fd).c_str(), target, sizeof target - 1);
    if (n < 0) return false;
    target[n] = '\0';
    if (std::strcmp(target, "/dev/ptmx") != 0 && std::strcmp(target, "/dev/pts/ptmx") != 0) return false;
    std::FILE* info = std::fopen((fdDir + "/../fdinfo/" + fd).c_str(), "r");
    if (info == nullptr) return false;
    char line[128];
    long found = -1;
    while (std::fgets(line, sizeof line, info) != nullptr) {
        if (std::sscanf(line, "tty-index: %ld", &found) == 1) break;
    }
    std::fclose(info);
    return found == index;
}

bool Fail(std::string& error, const std::string& text)
{
    error = text;
    return false;
}

}  // namespace

std::string PortHolders(const std::string& path, bool* modemManager)
{
    struct stat line;
    if (stat(path.c_str(), &line) != 0) return std::string();
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return std::string();
    const long ptyIndex = PtyIndex(path);
    std::string holders;
    const long self = static_cast<long>(getpid());
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self) continue;
        const std::string fdDir = "/proc/" + std::string(entry->d_name) + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (fds == nullptr) continue;
        bool holds = false;
        bool peer = false;
        while (const dirent* fd = readdir(fds)) {
            struct stat st;
            if (fd->d_name[0] == '.' || stat((fdDir + "/" + fd->d_name).c_str(), &st) != 0) continue;
            if (S_ISCHR(st.st_mode) && st.st_rdev == line.st_rdev) holds = true;
            if (ptyIndex >= 0 && IsPtyMaster(fdDir, fd->d_name, ptyIndex)) peer = true;
        }
        closedir(fds);
        // A pseudo-terminal's other end (a simulator, a tap) may keep the
        // slave open too: it is the peer on the line, not a competitor.
        if (!holds || peer) continue;
        const std::string label = ProcessLabel(pid);
        if (modemManager != nullptr && label.rfind(MODEM_MANAGER, 0) == 0) *modemManager = true;
        holders += (holders.empty() ? "" : ", ") + label;
    }
    closedir(proc);
    return holders;
}

bool CheckPort(const std::string& path, std::string& error)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return Fail(error, "cannot look at " + path + ": " + std::strerror(errno));
        return Fail(error, "no such port: " + path +
                               " (ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* lists the serial lines there are)");
    }
    if (!S_ISCHR(st.st_mode))
        return Fail(error, path + " is not a serial line (a character device such as /dev/ttyUSB0)");
    if (access(path.c_str(), R_OK | W_OK) != 0) {
        const std::string user = UserName();
        const std::string group = GroupName(st.st_gid);
        return Fail(error, "you (" + user + ") may not read and write " + path + " (" + ModeText(st) +
                               "): add yourself to the group " + group + " (sudo usermod -aG " + group + " " + user +
                               "), then log in again");
    }
    // Opened as the transfer opens it: without waiting for a carrier.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int cause = errno;
        if (cause == EBUSY)
            return Fail(error, path +
                                   " is held exclusively by another program (ModemManager does that: sudo "
                                   "systemctl stop ModemManager): " +
                                   std::strerror(cause));
        return Fail(error, path + " cannot be used as a serial line: " + std::strerror(cause));
    }
    termios settings{};
    const bool terminal = tcgetattr(fd, &settings) == 0;
    const int cause = errno;
    close(fd);
    if (!terminal) return Fail(error, path + " cannot be used as a serial line: " + std::strerror(cause));

    const std::string lockFile = LineLockFilePath(path);
    const long pid = LockFilePid(lockFile);
    if (pid != 0 && pid != static_cast<long>(getpid()) && ProcessAlive(pid))
        return Fail(error, path + " is in use: " + ProcessLabel(pid) + " holds its lock file " + lockFile);

    bool modemManager = false;
    const std::string holders = PortHolders(path, &modemManager);
    if (holders.empty()) return true;
    if (modemManager)
        return Fail(error, path + " is held by another program: " + holders +
                               ". ModemManager probes every new serial line for a modem: stop it while you send "
                               "(sudo systemctl stop ModemManager), or tell it to leave this device alone (a udev "
                               "rule setting ENV{ID_MM_DEVICE_IGNORE}=\"1\")");
    return Fail(error, path + " is held by another program: " + holders + "; end it first");
}
