// Command line of the device simulator.
#pragma once

#include <cstdint>
#include <string>

struct SimOptions {
    std::string devicePath;             // --device: an existing tty to open
    std::string ptyLink;                // --pty: symlink to the slave of our own pty
    std::string serverType = "PDASIM";  // UTF-8; sent converted to CP936
    uint32_t freeKb = 1024;
    std::string logPath;
    std::string vcardPath;  // --export-vcard: the stored records as vCards, rewritten after each
    bool quiet = false;

    bool silent = false;
    bool probeOnly = false;
    bool refuseRecords = false;
    uint32_t refuseEvery = 0;  // 0: off
    bool stopAfterSet = false;
    uint32_t stopAfter = 0;
    uint32_t delayMs = 0;
    uint32_t corruptFcs = 0;  // 0: off; else the 1-based reply to corrupt
    bool wrongLength = false;
    bool staleReply = false;
    bool duplicateReplies = false;  // every reply goes out twice
    uint32_t unsolicited = 0;       // 0: off; else an extra record reply follows the reply to this record
    uint32_t lateReply = 0;         // 0: off; else this record's reply comes after the library's time-out
    bool noise = false;
    bool pace = false;
    bool xonXoff = false;  // the line's termios get IXON and IXOFF, as a driver may leave them

    bool payloadFields = false;  // --payload-fields: print the record fields' names and end
    bool help = false;
    bool version = false;
};

// Fills `options` from argv; on a bad command line returns false with a
// message in `error`.
bool ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error);

extern const char* const SIM_USAGE;
