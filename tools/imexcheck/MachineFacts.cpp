#include "MachineFacts.h"

#include <windows.h>

#include <vector>

namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
using WineVersionFunction = const char*(CDECL*)();

}  // namespace

std::string WindowsVersionText()
{
    // GetVersionEx answers what the program's manifest allows; ntdll tells the truth.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr));
    std::string text = "unknown";
    if (rtlGetVersion != nullptr && rtlGetVersion(&version) == 0)
        text = std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + " build " +
               std::to_string(version.dwBuildNumber);
    auto wineVersion = reinterpret_cast<WineVersionFunction>(
        reinterpret_cast<void*>(ntdll != nullptr ? GetProcAddress(ntdll, "wine_get_version") : nullptr));
    if (wineVersion != nullptr) text += std::string(" under Wine ") + wineVersion();
    return "Windows " + text;
}

std::string DllVersionText(const std::string& dllPath)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(dllPath.c_str(), &ignored);
    std::vector<char> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoA(dllPath.c_str(), 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr)
        return "no version resource (error " + std::to_string(GetLastError()) + ")";
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
}

std::string PortDriverText(const std::string& port)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "not listed (HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM cannot be read)";
    std::string found;
    for (DWORD index = 0; found.empty(); ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        BYTE data[256];
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
        data[dataLength] = 0;
        if (type == REG_SZ && lstrcmpiA(reinterpret_cast<const char*>(data), port.c_str()) == 0)
            found = std::string(name, nameLength);
    }
    RegCloseKey(key);
    return found.empty() ? "not listed in HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM" : found;
}
