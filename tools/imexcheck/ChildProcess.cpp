#include "ChildProcess.h"

#include <windows.h>

#include <mutex>
#include <set>

namespace {

constexpr DWORD STOP_GRACE_MS = 3000;

std::mutex childrenLock;
std::set<HANDLE> running;

HANDLE TheJob()
{
    static HANDLE job = [] {
        HANDLE created = CreateJobObjectA(nullptr, nullptr);
        if (created != nullptr) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        }
        return created;
    }();
    return job;
}

}  // namespace

ChildProcess::~ChildProcess()
{
    Stop();
}

bool ChildProcess::Start(const std::string& commandLine, const std::string& outputPath, std::string& error)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        error = "cannot write " + outputPath + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    // A group of its own, so that Ctrl+Break reaches this child alone.
    const BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE,
                                        CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr, nullptr, &startup, &info);
    const DWORD code = GetLastError();
    CloseHandle(output);
    if (!started) {
        error = "cannot start " + commandLine + " (error " + std::to_string(code) + ")";
        return false;
    }
    if (TheJob() != nullptr) AssignProcessToJobObject(TheJob(), info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    std::lock_guard<std::mutex> hold(childrenLock);
    running.insert(info.hProcess);
    return true;
}

bool ChildProcess::WaitFor(unsigned ms)
{
    return process_ != nullptr && WaitForSingleObject(process_, ms) == WAIT_OBJECT_0;
}

int ChildProcess::ExitCode() const
{
    DWORD code = 0;
    if (process_ == nullptr || !GetExitCodeProcess(process_, &code) || code == STILL_ACTIVE) return -1;
    return static_cast<int>(code);
}

void ChildProcess::Stop()
{
    if (process_ == nullptr) return;
    if (!WaitFor(0)) {
        // Without a console to share (a check started with no console of its
        // own) no Ctrl+Break can be sent: the program is ended at once then.
        if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, processId_) || !WaitFor(STOP_GRACE_MS)) {
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, STOP_GRACE_MS);
        }
    }
    {
        std::lock_guard<std::mutex> hold(childrenLock);
        running.erase(process_);
    }
    CloseHandle(process_);
    process_ = nullptr;
}

void StopAllChildren()
{
    std::lock_guard<std::mutex> hold(childrenLock);
    for (HANDLE process : running)
        TerminateProcess(process, 1);
}
