#include "TraceWriter.h"

#include <cerrno>
#include <cstring>

TraceWriter::~TraceWriter()
{
    if (file_ != nullptr) std::fclose(file_);
}

bool TraceWriter::Open(const std::string& path, bool json, std::string& error)
{
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        error = "cannot write the trace " + path + ": " + std::strerror(errno);
        return false;
    }
    json_ = json;
    return true;
}

std::unique_ptr<LineTrace> TraceWriter::TraceFor(const std::string& port)
{
    return std::make_unique<LineTrace>(json_, [this, port](const std::string& line) { Write(port, line); });
}

void TraceWriter::Write(const std::string& port, const std::string& line)
{
    std::string shown = line;
    if (!port.empty()) {
        if (json_ && !shown.empty() && shown[0] == '{') {
            std::string quoted;
            for (char c : port) {
                if (c == '"' || c == '\\') quoted += '\\';
                quoted += c;
            }
            shown = "{\"port\":\"" + quoted + "\"," + shown.substr(1);
        } else if (!json_) {
            shown = port + " " + shown;
        }
    }
    std::lock_guard<std::mutex> hold(lock_);
    std::fputs(shown.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}
