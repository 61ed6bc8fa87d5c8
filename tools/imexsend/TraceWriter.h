// The --trace file that every port's LineTrace writes to: one line per
// frame, flushed at once; with several ports each line names its port.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "LineTrace.h"

class TraceWriter {
public:
    TraceWriter() = default;
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    // Replaces `path`. False with a message when it cannot be written.
    bool Open(const std::string& path, bool json, std::string& error);
    bool IsOpen() const { return file_ != nullptr; }
    // A decoder of one port's line whose lines go to this file; `port` is
    // named in each line when not empty.
    std::unique_ptr<LineTrace> TraceFor(const std::string& port);

private:
    void Write(const std::string& port, const std::string& line);

    std::FILE* file_ = nullptr;
    bool json_ = false;
    std::mutex lock_;
};
