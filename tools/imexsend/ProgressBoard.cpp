#include "ProgressBoard.h"

namespace {

// Redrawn at most this often: a thousand short records must not flood a terminal.
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(200);
const char CURSOR_UP_FORMAT[] = "\033[%zuA";
const char ERASE_DOWN[] = "\r\033[J";

}  // namespace

ProgressBoard::ProgressBoard(std::FILE* out, bool live, std::vector<std::string> labels)
    : out_(out), live_(live), labels_(std::move(labels)), rows_(labels_.size())
{
}

std::string ProgressBoard::DurationText(std::chrono::steady_clock::duration duration)
{
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

std::string ProgressBoard::ProgressText(const PortProgress& p, std::chrono::steady_clock::duration elapsed)
{
    std::string text = std::to_string(p.Done()) + "/" + std::to_string(p.total) + " records, " +
                       std::to_string(p.stored) + " stored, " + std::to_string(p.refused) + " refused, " +
                       std::to_string(p.lineFaults) + " line faults, " + DurationText(elapsed) + " elapsed";
    if (p.Done() == 0) return text;
    // The records so far tell the pace of the rest.
    const auto left = elapsed / p.Done() * (p.total - p.Done());
    return text + ", about " + DurationText(left) + " left";
}

void ProgressBoard::Erase()
{
    if (drawnRows_ == 0) return;
    std::fprintf(out_, CURSOR_UP_FORMAT, drawnRows_);
    std::fputs(ERASE_DOWN, out_);
    drawnRows_ = 0;
}

void ProgressBoard::Draw()
{
    for (size_t row = 0; row < rows_.size(); ++row) {
        if (rows_[row].empty()) continue;
        std::fprintf(out_, "%s%s\n", labels_[row].c_str(), rows_[row].c_str());
        ++drawnRows_;
    }
    lastDraw_ = std::chrono::steady_clock::now();
}

void ProgressBoard::Print(const std::string& line)
{
    std::lock_guard<std::mutex> hold(lock_);
    Erase();
    std::fprintf(out_, "%s\n", line.c_str());
    if (live_) Draw();
    std::fflush(out_);
}

void ProgressBoard::Update(size_t row, const PortProgress& progress, std::chrono::steady_clock::time_point started)
{
    if (!live_) return;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> hold(lock_);
    rows_[row] = ProgressText(progress, now - started);
    // The last record's line is always drawn.
    if (progress.Done() != progress.total && drawnRows_ > 0 && now - lastDraw_ < REDRAW_INTERVAL) return;
    Erase();
    Draw();
    std::fflush(out_);
}

void ProgressBoard::Close()
{
    std::lock_guard<std::mutex> hold(lock_);
    Erase();
    for (std::string& row : rows_)
        row.clear();
    std::fflush(out_);
}
