/*
 * versioncheck DLL: the version resource of DLL as a program reads it
 * (GetFileVersionInfoW, VerQueryValueW). Prints the fixed file and product
 * versions ("A.B.C.D A.B.C.D"), then NAME=VALUE in UTF-8 for each string of
 * the US English, Unicode block; exits 1 if anything is missing.
 */
#include <windows.h>
#include <stdio.h>

static const wchar_t* const NAMES[] = {L"FileDescription", L"FileVersion",    L"InternalName",   L"OriginalFilename",
                                       L"ProductName",     L"ProductVersion", L"LegalCopyright", L"Comments"};

int main(int argc, char** argv)
{
    static BYTE info[16384];
    wchar_t path[MAX_PATH], query[64], *value;
    VS_FIXEDFILEINFO* fixed;
    UINT length;
    MultiByteToWideChar(CP_ACP, 0, argc > 1 ? argv[1] : "", -1, path, MAX_PATH);
    if (!GetFileVersionInfoW(path, 0, sizeof info, info) || !VerQueryValueW(info, L"\\", (void**)&fixed, &length))
        return 1;
    printf("%u.%u.%u.%u %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
           HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS), HIWORD(fixed->dwProductVersionMS),
           LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    for (size_t i = 0; i < sizeof NAMES / sizeof NAMES[0]; i++) {
        char name[64], text[512];
        swprintf(query, 64, L"\\StringFileInfo\\040904b0\\%ls", NAMES[i]);
        if (!VerQueryValueW(info, query, (void**)&value, &length)) return 1;
        WideCharToMultiByte(CP_UTF8, 0, NAMES[i], -1, name, sizeof name, NULL, NULL);
        WideCharToMultiByte(CP_UTF8, 0, value, -1, text, sizeof text, NULL, NULL);
        printf("%s=%s\n", name, text);
    }
    return 0;
}
