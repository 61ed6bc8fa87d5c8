#include "PtyClient.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

int RemainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

PtyClient::~PtyClient()
{
    Close();
}

bool PtyClient::Open(const std::string& path)
{
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return false;
    termios t{};
    if (tcgetattr(fd_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    return true;
}

bool PtyClient::Adopt(int fd)
{
    fd_ = dup(fd);
    return fd_ >= 0 && fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK) == 0;
}

void PtyClient::Close()
{
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool PtyClient::WriteRaw(const Bytes& bytes)
{
    size_t done = 0;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (done < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (Clock::now() > deadline) return false;
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 10);
    }
    return true;
}

bool PtyClient::SendMessage(const Bytes& message)
{
    static uint8_t frame[STUFFED_FRAME_SIZE];
    size_t n = BuildFrame(message.data(), message.size(), frame);
    if (n == 0) return false;
    return WriteRaw(Bytes(frame, frame + n));
}

bool PtyClient::ReadSome(int timeoutMs)
{
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    uint8_t chunk[4096];
    ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n <= 0) return false;
    pending_.insert(pending_.end(), chunk, chunk + n);
    raw_.insert(raw_.end(), chunk, chunk + n);
    return true;
}

bool PtyClient::ReceiveMessage(Bytes& message, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buffer[FRAME_BUFFER_SIZE];
    for (;;) {
        while (!pending_.empty()) {
            uint8_t b = pending_.front();
            pending_.pop_front();
            size_t length = sizeof buffer;
            if (receiver_.Feed(b, buffer, &length) == FrameReceiver::GOOD) {
                message.assign(buffer, buffer + length);
                return true;
            }
        }
        int left = RemainingMs(deadline);
        if (left == 0) return false;
        ReadSome(left);
    }
}

SimProcess::~SimProcess()
{
    if (pid_ > 0) Stop();
}

bool SimProcess::Start(const std::vector<std::string>& args, std::string& readyLine, const char* program)
{
    if (program == nullptr) program = PDASIM_PATH;
    int out[2];
    if (pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        setsid();  // its pty must not become our controlling terminal
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program, argv.data());
        _exit(127);
    }
    close(out[1]);
    stdoutFd_ = out[0];
    readyLine.clear();
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (readyLine.empty() || readyLine.back() != '\n') {
        pollfd p{stdoutFd_, POLLIN, 0};
        int left = RemainingMs(deadline);
        if (left == 0 || poll(&p, 1, left) <= 0) return false;
        char c;
        if (read(stdoutFd_, &c, 1) != 1) return false;
        readyLine += c;
    }
    readyLine.pop_back();
    return true;
}

int SimProcess::Stop()
{
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    int result = -1;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        usleep(10000);
    }
    pid_ = -1;
    if (stdoutFd_ >= 0) close(stdoutFd_);
    stdoutFd_ = -1;
    return result;
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/pdasim-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
}

TempDir::~TempDir()
{
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
}
