/*
 * msvc_host.exe MODE RECORD_FILE: a host built the MSVC way (clang for the
 * *-pc-windows-msvc target, lld-link, lib/imex.lib). No C runtime or SDK of
 * Microsoft's can be had here, so it has its own entry and declares the two
 * KERNEL32 functions it needs. Exit code: ImEx's result, or 99 when the
 * progress reports were not 1..N of N, once each, in order.
 */
#include "imex.h"

__declspec(dllimport) char* __stdcall GetCommandLineA(void);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

static int reports, reportedCount, progressBroken;

static void IMEX_CALL CountProgress(int block, int blockCount)
{
    reports++;
    if (block != reports || (reports > 1 && blockCount != reportedCount)) progressBroken = 1;
    reportedCount = blockCount;
}

/* Past one argument, quoted or not, and the spaces after it. */
static char* SkipArgument(char* p)
{
    char end = ' ';
    if (*p == '"') end = *p++;
    while (*p != '\0' && *p != end)
        p++;
    if (*p == '"') p++;
    while (*p == ' ')
        p++;
    return p;
}

void __stdcall HostStart(void)
{
    char* p = SkipArgument(GetCommandLineA());
    int mode = 0;
    for (; *p >= '0' && *p <= '9'; p++)
        mode = mode * 10 + (*p - '0');
    while (*p == ' ')
        p++;
    int result = ImEx(0, 0, 0, p, 0, mode, CountProgress);
    ExitProcess(progressBroken || reports != reportedCount ? 99 : (unsigned int)result);
}
