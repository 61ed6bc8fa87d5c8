// What the sender shows while it works: lasting lines (a device's
// information, a record that failed, the summaries) and, on a terminal, one
// live progress line per port below them, redrawn in place. Safe to use
// from every port's thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

struct PortProgress {
    int32_t total = 0;
    int32_t stored = 0;
    int32_t refused = 0;
    int32_t lineFaults = 0;
    int32_t Done() const { return stored + refused + lineFaults; }
};

class ProgressBoard {
public:
    // `live`: draw the progress lines (standard output is a terminal).
    ProgressBoard(std::FILE* out, bool live, std::vector<std::string> labels);

    // A lasting line, shown above the progress lines.
    void Print(const std::string& line);
    // The progress of port `row`; counted from `started` (its first record).
    void Update(size_t row, const PortProgress& progress, std::chrono::steady_clock::time_point started);
    // Takes the progress lines away; what was printed stays.
    void Close();

    // "records done of total, stored/refused/line faults so far, elapsed, left".
    static std::string ProgressText(const PortProgress& progress, std::chrono::steady_clock::duration elapsed);
    // 75 s as "1:15", 3725 s as "1:02:05".
    static std::string DurationText(std::chrono::steady_clock::duration duration);

private:
    void Erase();
    void Draw();

    std::FILE* out_;
    bool live_;
    std::vector<std::string> labels_;
    std::vector<std::string> rows_;
    size_t drawnRows_ = 0;
    std::chrono::steady_clock::time_point lastDraw_;
    std::mutex lock_;
};
