// What a bug report needs to know of the machine: the Windows version, the
// DLL's version and each port's driver as Windows names it.
#pragma once

#include <string>

// "Windows 10.0 build 19045" (also "under Wine 8.0" where it runs there).
std::string WindowsVersionText();
// The DLL's file version from its version resource, or why there is none.
std::string DllVersionText(const std::string& dllPath);
// The kernel device behind `port` as HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
// lists it (\Device\Serial0, \Device\com0com10, \Device\VCP0 ...).
std::string PortDriverText(const std::string& port);
