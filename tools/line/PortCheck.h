// The checks made on a serial line before a tool of ours opens it, so that a
// wrong name, a missing permission or another program on the line each get
// their own message instead of all ending as "no device answered". POSIX only.
#pragma once

#include <string>

// True when `path` names a serial line this user may open now: it exists,
// is a character device, is readable and writable, opens without waiting
// for a carrier, answers as a terminal, and no other program holds it (by
// its lock file in /run/lock or by having it open). Else false with a
// message naming the line, the reason and, where there is one, the fix.
bool CheckPort(const std::string& path, std::string& error);

// The programs other than this one that have `path` open, as ProcessLabel
// names them ("ModemManager (pid 812)"), from /proc; only the processes this
// user may look into are seen.
std::string PortHolders(const std::string& path, bool* modemManager);
