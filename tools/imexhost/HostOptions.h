// imexhost's command line: what to call ImEx with and how to drive the
// dialogs it shows.
#pragma once

#include <string>
#include <vector>

#include "imex.h"

enum class DialogKind {
    CONNECT,
    TRANSFER,
    BOX
};

const char* KindName(DialogKind kind);

struct Press {
    std::string key;   // "escape" or "enter"
    DialogKind where;  // CONNECT or TRANSFER
    int occurrence;    // 1-based count of that dialog kind in the process
};

struct Options {
    std::string dllPath;
    int mode = IMEX_MODE_TRANSFER;
    bool nullCallback = false;
    int repeat = 1;
    bool answerBoxes = false;
    unsigned answerDelayMs = 200;
    bool logDialogs = false;
    std::vector<Press> presses;
    bool reenter = false;
    bool reenterThread = false;
    bool reportHandles = false;
    bool ownerWindow = false;
    bool nestedOwner = false;  // the caller's window is a modal dialog of its main window
    int exitInCallback = 0;    // block whose callback ends the process at once
    int exitFromThread = 0;    // block whose callback lets another thread end the process
    std::string screenshotDir;
    const char* recordFile = nullptr;
};

// What became of the records of one call, as the message boxes tell: a

extern Options options;
extern const char HOST_USAGE[];

// Exit statuses beyond the DLL's results (which are exit statuses as they are).
constexpr int EXIT_RECORDS_REFUSED = 8;  // the device refused records (some may also be lost)
constexpr int EXIT_RECORDS_LOST = 9;     // records failed on the line or were abandoned, none refused
constexpr int EXIT_NO_PORT = 10;         // result 7, and neither COM1 nor COM2 can be opened
constexpr int EXIT_NO_DLL = 100;
constexpr int EXIT_USAGE = 101;

// Fills `options`; false with a message naming the option (or argument)
// and what is wrong.
bool ParseArguments(int argc, char** argv, bool* help, std::string* error);
