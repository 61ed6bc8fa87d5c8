#include "CallOutcome.h"

#include <windows.h>

#include <cstdio>

#include "HostOptions.h"
#include "OutcomeSummary.h"
#include "UiTexts.h"
#include "imex.h"

CallOutcome outcome;

const char* ResultMeaning(int result)
{
    switch (result) {
    case IMEX_RESULT_OK: return "done (every record handled, or the mode is not served)";
    case IMEX_RESULT_BUSY: return "busy: a transfer is already running in this process";
    case IMEX_RESULT_CANNOT_OPEN: return "the record file cannot be opened";
    case IMEX_RESULT_BAD_FILE: return "the record file is not valid";
    case IMEX_RESULT_NO_MEMORY: return "the record table cannot be allocated";
    case IMEX_RESULT_NOT_CONNECTED: return "no device connected";
    case IMEX_RESULT_NO_DEVICE: return "no device answered on COM1 or COM2";
    default: return "unknown result";
    }
}

void CountBox(const std::string& text)
{
    // A box of an abandoned record's late outcome belongs to that record all the same.
    outcome.abandoned.erase(outcome.currentRecord);
    if (text == RECORD_REFUSED_MESSAGE)
        outcome.refused.insert(outcome.currentRecord);
    else if (text == LINE_FAULT_MESSAGE)
        outcome.lineFaults.insert(outcome.currentRecord);
    else
        ++outcome.otherBoxes;
}

namespace {

// After result 7: whether the ports could be opened at all, which tells a
// wrong or forbidden port from a device that is off. Returns how many could.
int DescribePorts(std::string* findings)
{
    int usable = 0;
    for (const char* port : {"COM1", "COM2"}) {
        const std::string name = std::string("\\\\.\\") + port;
        HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD error = GetLastError();
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        // Wine opens a mapped port whose device is missing; only its settings fail then.
        bool opens = handle != INVALID_HANDLE_VALUE && GetCommState(handle, &dcb);
        if (handle != INVALID_HANDLE_VALUE && !opens) error = GetLastError();
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        if (!findings->empty()) *findings += "; ";
        *findings += port;
        *findings += opens ? " opens" : " cannot be opened (error " + std::to_string(error) + ")";
        if (opens) ++usable;
    }
    return usable;
}

}  // namespace

int Summarize(int result)
{
    if (result == IMEX_RESULT_NO_DEVICE) {
        std::string findings;
        bool anyPort = DescribePorts(&findings) > 0;
        std::printf("no record sent: %s (%s)\n",
                    anyPort ? "no device answered on COM1 or COM2" : "neither COM1 nor COM2 can be opened",
                    findings.c_str());
        return anyPort ? result : EXIT_NO_PORT;
    }
    if (result != IMEX_RESULT_OK) {
        std::printf("no record sent: %s\n", ResultMeaning(result));
        return result;
    }
    const CallOutcome& o = outcome;
    std::printf("%s", RecordsSummary(o.records, o.refused, o.lineFaults, o.abandoned).c_str());
    if (o.otherBoxes > 0) std::printf(", %d other message boxes", o.otherBoxes);
    std::printf("\n");
    if (!o.refused.empty()) return EXIT_RECORDS_REFUSED;
    if (!o.lineFaults.empty() || !o.abandoned.empty()) return EXIT_RECORDS_LOST;
    return 0;
}
