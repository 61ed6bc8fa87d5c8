/*
 * hostcheck: a host program written apart from the library's own headers.
 *
 *   hostcheck.exe DLL_PATH RECORD_FILE [MODE]
 *
 * Loads the DLL, finds ImEx by name and by ordinal 1 (both must be the same
 * function), calls it with the record file and mode 1 (or MODE), and prints
 *
 *   callbacks: (1,N) (2,N) ...
 *   result: R
 *
 * It exits 0 after a call that kept the calling convention: ImEx removed its
 * 28 bytes of arguments and every progress report came on the calling
 * thread. Any other finding is printed on stderr and the exit code is 1.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

typedef void(__stdcall *ProgressCallback)(int block, int blockCount);
typedef int(__stdcall *ImExFunction)(DWORD unused1, DWORD unused2, DWORD unused3,
                                     const char *recordFile, DWORD unused5, int mode,
                                     ProgressCallback progress);

enum { MAX_REPORTS = 100000, IMEX_ARGUMENT_BYTES = 28 };

static int reportBlock[MAX_REPORTS];
static int reportCount[MAX_REPORTS];
static int reports;
static int reportsDropped;
static int reportsOffThread;
static DWORD callerThread;

static void __stdcall RecordProgress(int block, int blockCount)
{
    if (GetCurrentThreadId() != callerThread)
        reportsOffThread++;
    if (reports < MAX_REPORTS) {
        reportBlock[reports] = block;
        reportCount[reports] = blockCount;
        reports++;
    } else {
        reportsDropped++;
    }
}

/*
 * Calls ImEx with the seven arguments pushed by hand and measures the stack
 * pointer around the call: a __stdcall function must leave it where it was
 * before the pushes. A compiler-generated call could hide a wrong count
 * behind a frame-pointer restore.
 */
static int CallImEx(void *function, const DWORD args[7], long *stackDelta)
{
    int result;
    long delta;
    void *target = function;
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "pushl 24(%%ebx)\n\t"
        "pushl 20(%%ebx)\n\t"
        "pushl 16(%%ebx)\n\t"
        "pushl 12(%%ebx)\n\t"
        "pushl 8(%%ebx)\n\t"
        "pushl 4(%%ebx)\n\t"
        "pushl 0(%%ebx)\n\t"
        "call *%%edx\n\t"
        "movl %%esp, %%edi\n\t"
        "subl %%esi, %%edi\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(result), "=D"(delta), "+d"(target)
        : "b"(args)
        : "ecx", "esi", "memory", "cc");
    *stackDelta = delta;
    return result;
}

int main(int argc, char **argv)
{
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: hostcheck DLL_PATH RECORD_FILE [MODE]\n");
        return 2;
    }
    int mode = argc == 4 ? atoi(argv[3]) : 1;

    HMODULE module = LoadLibraryA(argv[1]);
    if (module == NULL) {
        fprintf(stderr, "hostcheck: LoadLibraryA(%s) failed, error %lu\n", argv[1],
                (unsigned long)GetLastError());
        return 1;
    }
    FARPROC byName = GetProcAddress(module, "ImEx");
    FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(1));
    if (byName == NULL || byOrdinal == NULL || byName != byOrdinal) {
        fprintf(stderr, "hostcheck: ImEx by name %p, by ordinal 1 %p\n", (void *)byName,
                (void *)byOrdinal);
        FreeLibrary(module);
        return 1;
    }

    callerThread = GetCurrentThreadId();
    const DWORD args[7] = {
        0x11111111u, 0x22222222u, 0x33333333u, (DWORD)(UINT_PTR)argv[2],
        0x55555555u, (DWORD)mode, (DWORD)(UINT_PTR)(ProgressCallback)RecordProgress,
    };
    long stackDelta = 0;
    int result = CallImEx((void *)byName, args, &stackDelta);

    printf("callbacks:");
    for (int i = 0; i < reports; i++)
        printf(" (%d,%d)", reportBlock[i], reportCount[i]);
    printf("\nresult: %d\n", result);
    fflush(stdout);

    int ok = 1;
    if (stackDelta != 0) {
        fprintf(stderr, "hostcheck: ImEx removed %ld bytes of arguments, expected %d\n",
                IMEX_ARGUMENT_BYTES + stackDelta, IMEX_ARGUMENT_BYTES);
        ok = 0;
    }
    if (reportsOffThread != 0) {
        fprintf(stderr, "hostcheck: %d progress report(s) came on another thread\n",
                reportsOffThread);
        ok = 0;
    }
    if (reportsDropped != 0) {
        fprintf(stderr, "hostcheck: %d progress report(s) beyond %d not printed\n",
                reportsDropped, MAX_REPORTS);
        ok = 0;
    }
    FreeLibrary(module);
    return ok ? 0 : 1;
}
