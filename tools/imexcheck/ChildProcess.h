// A program the check starts (pdasim.exe, imexhost.exe): its output goes
// to a file, it is bounded in time, and it never outlives the check. Every
// child is in one job object that ends them all when the check ends, also
// when the check itself is killed.
#pragma once

#include <string>

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs `commandLine` with standard output and error into `outputPath`.
    bool Start(const std::string& commandLine, const std::string& outputPath, std::string& error);
    // True when the program has ended within `ms`.
    bool WaitFor(unsigned ms);
    // The exit status of an ended program; -1 while it runs.
    int ExitCode() const;
    // Asks the program to stop as Ctrl+Break does, and ends it after a
    // grace period if it has not stopped by then.
    void Stop();

private:
    void* process_ = nullptr;
    unsigned long processId_ = 0;
};

// Ends every child still running; for the check's own Ctrl+C.
void StopAllChildren();
