#include "OutcomeSummary.h"

namespace {

// " (record 3)", " (records 2, 4)", or nothing for no record.
std::string RecordList(const std::set<int>& records)
{
    if (records.empty()) return std::string();
    std::string list = records.size() == 1 ? " (record " : " (records ";
    bool first = true;
    for (int record : records) {
        list += (first ? "" : ", ") + std::to_string(record);
        first = false;
    }
    return list + ")";
}

std::string Count(size_t count, const char* what, const std::set<int>& records)
{
    return std::to_string(count) + " " + what + RecordList(records);
}

}  // namespace

std::string RecordsSummary(int records, const std::set<int>& refused, const std::set<int>& lineFaults,
                           const std::set<int>& abandoned)
{
    const int stored = records - static_cast<int>(refused.size() + lineFaults.size() + abandoned.size());
    std::string line = std::to_string(records) + " records: " + std::to_string(stored) + " stored, " +
                       Count(refused.size(), "refused", refused) + ", " +
                       Count(lineFaults.size(), "line faults", lineFaults);
    if (!abandoned.empty()) line += ", " + Count(abandoned.size(), "abandoned", abandoned);
    return line;
}
