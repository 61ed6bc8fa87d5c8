// What became of the records of one call, as the message boxes tell, and
// the summary line and exit status imexhost gives for it.
#pragma once

#include <set>
#include <string>

// What became of the records of one call, as the message boxes tell: a
// record without a box was answered as taken.
struct CallOutcome {
    int records = 0;           // blocks announced by the callback, or transfer dialogs seen
    int currentRecord = 0;     // the record whose transfer runs now
    std::set<int> refused;     // RECORD_REFUSED_MESSAGE
    std::set<int> lineFaults;  // LINE_FAULT_MESSAGE
    std::set<int> abandoned;   // its transfer dialog ended by a key press before any box
    int otherBoxes = 0;
};

extern CallOutcome outcome;

const char* ResultMeaning(int result);
// Counts a message box of the DLL's against the record being sent.
void CountBox(const std::string& text);
// Prints the call's last line and gives the exit status it stands for.
int Summarize(int result);
