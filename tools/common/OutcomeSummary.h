// The line that says what became of a transfer's records, as imexhost and
// imexsend print it and send.sh's users read it:
// "5 records: 3 stored, 2 refused (records 2, 4), 0 line faults".
#pragma once

#include <set>
#include <string>

// Records neither refused, nor failed on the line, nor abandoned count as
// stored. The abandoned part appears only when there are any.
std::string RecordsSummary(int records, const std::set<int>& refused, const std::set<int>& lineFaults,
                           const std::set<int>& abandoned = {});
