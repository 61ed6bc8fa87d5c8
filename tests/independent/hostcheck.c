/*
 * hostcheck: a host program written apart from the library's own headers.
 *
 *   hostcheck.exe DLL_PATH RECORD_FILE [MODE [CALLS]]
 *
 * Loads the DLL, finds ImEx by name and by ordinal 1 (both must be the same
 * function), calls it CALLS times (default 1) with the record file and mode
 * 1 (or MODE), and prints for each call
 *
 *   callbacks: (1,N) (2,N) ...
 *   result: R
 *
 * While the calls run, a watcher thread looks for message boxes of this
 * process (visible "#32770" dialogs with an OK button and a text), prints
 * each one as
 *
 *   box: CAPTION | TEXT
 *
 * (UTF-8) and presses OK on it after a short pause, so that a transfer
 * with refused records runs unattended. Box lines appear only when boxes
 * do. The library's own dialogs without an OK button ("Connecting ...",
 * "Transfering ...") are reported on stderr as
 *
 *   hostcheck: dialog: TEXT | TEXT ...
 *
 * once per window and text, so a driver can read the percentages.
 *
 * It exits 0 after calls that kept the calling convention: on i386 ImEx
 * removed its 28 bytes of arguments and kept ebx, ebp, esi and edi; on
 * x86_64 the stack pointer, the callee-saved registers (rbx, rbp, rdi,
 * rsi, r12-r15, xmm6-xmm15), the MXCSR control bits and the x87 control
 * word came back unchanged. Every progress report must come on the
 * calling thread. Any other finding is printed on stderr and the exit
 * code is 1.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef void(WINAPI* ProgressCallback)(int block, int blockCount);

enum {
    MAX_REPORTS = 100000,
    IMEX_ARGUMENT_BYTES = 28,
    BOX_PAUSE_MS = 300,
    WATCH_INTERVAL_MS = 20,
    MAX_TEXT = 1024,
    MAX_SEEN_DIALOGS = 256,
};

static int reportBlock[MAX_REPORTS];
static int reportCount[MAX_REPORTS];
static int reports;
static int reportsDropped;
static int reportsOffThread;
static DWORD callerThread;

static CRITICAL_SECTION outputLock;
static int conventionBroken;

static void WINAPI RecordProgress(int block, int blockCount)
{
    if (GetCurrentThreadId() != callerThread) reportsOffThread++;
    if (reports < MAX_REPORTS) {
        reportBlock[reports] = block;
        reportCount[reports] = blockCount;
        reports++;
    } else {
        reportsDropped++;
    }
}

/* ---- the call itself -------------------------------------------------- */

#if defined(__i386__)
/* Register image exchanged with hostcheck_call32.S. */
struct Win32Registers {
    DWORD espBefore; /* esp before the seven pushes */
    DWORD espAfter;  /* esp right after the call returned */
    DWORD gpr[4];    /* ebx, ebp, esi, edi */
};

extern int CallImExWin32(void* function, const DWORD args[7], const struct Win32Registers* load,
                         struct Win32Registers* seen);

static const char* const gprNames[4] = {"ebx", "ebp", "esi", "edi"};

static int CallAndCheck(void* function, const char* path, int mode, ProgressCallback progress)
{
    const DWORD args[7] = {
        0x11111111u,
        0x22222222u,
        0x33333333u,
        (DWORD)(UINT_PTR)path,
        0x55555555u,
        (DWORD)mode,
        (DWORD)(UINT_PTR)progress,
    };
    struct Win32Registers load, seen;
    memset(&load, 0, sizeof load);
    memset(&seen, 0, sizeof seen);
    for (int i = 0; i < 4; i++)
        load.gpr[i] = 0x4B5A6978u ^ ((DWORD)(i + 1) * 0x01010101u);

    int result = CallImExWin32(function, args, &load, &seen);

    long stackDelta = (long)(seen.espAfter - seen.espBefore);
    if (stackDelta != 0) {
        fprintf(stderr, "hostcheck: ImEx removed %ld bytes of arguments, expected %d\n",
                IMEX_ARGUMENT_BYTES + stackDelta, IMEX_ARGUMENT_BYTES);
        conventionBroken = 1;
    }
    for (int i = 0; i < 4; i++) {
        if (seen.gpr[i] != load.gpr[i]) {
            fprintf(stderr, "hostcheck: ImEx changed %s: 0x%08lx, expected 0x%08lx\n", gprNames[i],
                    (unsigned long)seen.gpr[i], (unsigned long)load.gpr[i]);
            conventionBroken = 1;
        }
    }
    return result;
}

#elif defined(__x86_64__)
/* Register image exchanged with hostcheck_call64.S; keep the offsets in step. */
struct Win64Registers {
    UINT64 rspBefore;  /*   0: rsp right before the call instruction */
    UINT64 rspAfter;   /*   8: rsp right after it returned */
    UINT64 gpr[9];     /*  16: rbx, rbp, rdi, rsi, r12, r13, r14, r15, spare */
    BYTE xmm[10][16];  /*  88: xmm6 .. xmm15 */
    DWORD mxcsrBefore; /* 248 */
    DWORD mxcsrAfter;  /* 252 */
    WORD fpcwBefore;   /* 256 */
    WORD fpcwAfter;    /* 258 */
    BYTE pad[4];
};

extern int CallImExWin64(void* function, const UINT64 args[7], const struct Win64Registers* load,
                         struct Win64Registers* seen);

static const char* const gprNames[8] = {"rbx", "rbp", "rdi", "rsi", "r12", "r13", "r14", "r15"};

static int CallAndCheck(void* function, const char* path, int mode, ProgressCallback progress)
{
    /*
     * The 32-bit arguments carry junk in their upper halves: the callee
     * may read only the low 32 bits of an int argument.
     */
    const UINT64 args[7] = {
        0x1111111111111111ull,      0x2222222222222222ull, 0x3333333333333333ull,
        (UINT64)(UINT_PTR)path,     0x5555555555555555ull, 0xA5A5A5A500000000ull | (UINT64)(UINT32)mode,
        (UINT64)(UINT_PTR)progress,
    };
    struct Win64Registers load, seen;
    memset(&load, 0, sizeof load);
    memset(&seen, 0, sizeof seen);
    for (int i = 0; i < 8; i++)
        load.gpr[i] = 0x0F1E2D3C4B5A6978ull ^ ((UINT64)(i + 1) * 0x0101010101010101ull);
    for (int i = 0; i < 10; i++)
        for (int b = 0; b < 16; b++)
            load.xmm[i][b] = (BYTE)(0x61 + i * 16 + b);

    int result = CallImExWin64(function, args, &load, &seen);

    if (seen.rspAfter != seen.rspBefore) {
        fprintf(stderr, "hostcheck: rsp moved by %lld bytes across ImEx\n",
                (long long)(seen.rspAfter - seen.rspBefore));
        conventionBroken = 1;
    }
    for (int i = 0; i < 8; i++) {
        if (seen.gpr[i] != load.gpr[i]) {
            fprintf(stderr, "hostcheck: ImEx changed %s: 0x%016llx, expected 0x%016llx\n", gprNames[i],
                    (unsigned long long)seen.gpr[i], (unsigned long long)load.gpr[i]);
            conventionBroken = 1;
        }
    }
    for (int i = 0; i < 10; i++) {
        if (memcmp(seen.xmm[i], load.xmm[i], 16) != 0) {
            fprintf(stderr, "hostcheck: ImEx changed xmm%d\n", i + 6);
            conventionBroken = 1;
        }
    }
    /* The six exception flags of MXCSR are volatile; its control bits are not. */
    if ((seen.mxcsrAfter & ~0x3Fu) != (seen.mxcsrBefore & ~0x3Fu)) {
        fprintf(stderr, "hostcheck: ImEx changed the MXCSR controls: 0x%08lx, was 0x%08lx\n",
                (unsigned long)seen.mxcsrAfter, (unsigned long)seen.mxcsrBefore);
        conventionBroken = 1;
    }
    if (seen.fpcwAfter != seen.fpcwBefore) {
        fprintf(stderr, "hostcheck: ImEx changed the x87 control word: 0x%04x, was 0x%04x\n", seen.fpcwAfter,
                seen.fpcwBefore);
        conventionBroken = 1;
    }
    return result;
}
#else
#error "hostcheck knows the calling conventions of i386 and x86_64 only"
#endif

/* ---- message box watcher ---------------------------------------------- */

static volatile LONG watcherStop;
static int boxesSeen;
static int boxesStuck;

struct SeenDialog {
    HWND window;
    WCHAR text[MAX_TEXT];
};
static struct SeenDialog seenDialogs[MAX_SEEN_DIALOGS];
static int seenDialogCount;

static void PrintUtf8Line(FILE* stream, const char* prefix, const WCHAR* text)
{
    char utf8[MAX_TEXT * 4];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    if (n <= 0) utf8[0] = '\0';
    EnterCriticalSection(&outputLock);
    fputs(prefix, stream);
    fputs(utf8, stream);
    fputs("\n", stream);
    fflush(stream);
    LeaveCriticalSection(&outputLock);
}

static int HasClass(HWND window, const WCHAR* className)
{
    WCHAR name[64];
    if (GetClassNameW(window, name, 64) == 0) return 0;
    return lstrcmpiW(name, className) == 0;
}

struct StaticTexts {
    WCHAR joined[MAX_TEXT];
    WCHAR first[MAX_TEXT];
    int count;
};

/* The texts of the visible static controls, icons left out. */
static BOOL CALLBACK CollectStatic(HWND child, LPARAM param)
{
    struct StaticTexts* texts = (struct StaticTexts*)param;
    if (!HasClass(child, L"Static")) return TRUE;
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON) return TRUE;
    WCHAR text[MAX_TEXT];
    /* Reads the stored text without sending a message to the busy thread. */
    int n = InternalGetWindowText(child, text, MAX_TEXT);
    if (n <= 0) text[0] = L'\0';
    if (texts->count == 0) lstrcpynW(texts->first, text, MAX_TEXT);
    size_t used = wcslen(texts->joined);
    if (texts->count > 0 && used + 3 < MAX_TEXT) {
        wcscat(texts->joined, L" | ");
        used += 3;
    }
    if (used < MAX_TEXT - 1) wcsncat(texts->joined, text, MAX_TEXT - 1 - used);
    texts->count++;
    return TRUE;
}

static void NoteDialog(HWND window, const WCHAR* text)
{
    for (int i = 0; i < seenDialogCount; i++)
        if (seenDialogs[i].window == window && wcscmp(seenDialogs[i].text, text) == 0) return;
    int slot = seenDialogCount < MAX_SEEN_DIALOGS ? seenDialogCount++ : MAX_SEEN_DIALOGS - 1;
    seenDialogs[slot].window = window;
    lstrcpynW(seenDialogs[slot].text, text, MAX_TEXT);
    PrintUtf8Line(stderr, "hostcheck: dialog: ", text);
}

static void AnswerBox(HWND box, const WCHAR* text)
{
    WCHAR caption[MAX_TEXT];
    if (InternalGetWindowText(box, caption, MAX_TEXT) <= 0) caption[0] = L'\0';
    WCHAR line[MAX_TEXT * 2 + 4];
    lstrcpynW(line, caption, MAX_TEXT);
    wcscat(line, L" | ");
    wcsncat(line, text, MAX_TEXT);
    PrintUtf8Line(stdout, "box: ", line);
    boxesSeen++;

    Sleep(BOX_PAUSE_MS);
    HWND ok = GetDlgItem(box, IDOK);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)ok);
    for (int waited = 0; waited < 5000; waited += WATCH_INTERVAL_MS) {
        if (!IsWindow(box) || !IsWindowVisible(box)) return;
        Sleep(WATCH_INTERVAL_MS);
    }
    fprintf(stderr, "hostcheck: a box did not close on OK within 5 s\n");
    boxesStuck++;
}

static BOOL CALLBACK InspectWindow(HWND window, LPARAM param)
{
    (void)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || !HasClass(window, L"#32770")) return TRUE;
    struct StaticTexts texts;
    memset(&texts, 0, sizeof texts);
    EnumChildWindows(window, CollectStatic, (LPARAM)&texts);
    if (texts.count == 0) return TRUE;
    HWND ok = GetDlgItem(window, IDOK);
    if (ok != NULL && HasClass(ok, L"Button")) {
        AnswerBox(window, texts.first);
        return FALSE; /* windows may have changed meanwhile: scan afresh */
    }
    NoteDialog(window, texts.joined);
    return TRUE;
}

static DWORD WINAPI WatchBoxes(LPVOID unused)
{
    (void)unused;
    while (!InterlockedCompareExchange(&watcherStop, 0, 0)) {
        EnumWindows(InspectWindow, 0);
        Sleep(WATCH_INTERVAL_MS);
    }
    return 0;
}

/* ---- main ------------------------------------------------------------- */

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 5) {
        fprintf(stderr, "usage: hostcheck DLL_PATH RECORD_FILE [MODE [CALLS]]\n");
        return 2;
    }
    int mode = argc >= 4 ? atoi(argv[3]) : 1;
    int calls = argc >= 5 ? atoi(argv[4]) : 1;
    if (calls < 1) {
        fprintf(stderr, "hostcheck: CALLS must be at least 1\n");
        return 2;
    }
    InitializeCriticalSection(&outputLock);

    HMODULE module = LoadLibraryA(argv[1]);
    if (module == NULL) {
        fprintf(stderr, "hostcheck: LoadLibraryA(%s) failed, error %lu\n", argv[1], (unsigned long)GetLastError());
        return 1;
    }
    FARPROC byName = GetProcAddress(module, "ImEx");
    FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(1));
    if (byName == NULL || byOrdinal == NULL || byName != byOrdinal) {
        fprintf(stderr, "hostcheck: ImEx by name %p, by ordinal 1 %p\n", (void*)byName, (void*)byOrdinal);
        FreeLibrary(module);
        return 1;
    }

    /*
     * The path goes to ImEx from memory at the top of the address space, so
     * that on x86_64 a pointer cut to 32 bits no longer reaches it.
     */
    size_t pathSize = strlen(argv[2]) + 1;
    char* path = VirtualAlloc(NULL, pathSize, MEM_COMMIT | MEM_RESERVE | MEM_TOP_DOWN, PAGE_READWRITE);
    if (path == NULL) {
        fprintf(stderr, "hostcheck: VirtualAlloc for the path failed, error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    memcpy(path, argv[2], pathSize);

    callerThread = GetCurrentThreadId();
    HANDLE watcher = CreateThread(NULL, 0, WatchBoxes, NULL, 0, NULL);
    if (watcher == NULL) {
        fprintf(stderr, "hostcheck: cannot start the box watcher, error %lu\n", (unsigned long)GetLastError());
        return 1;
    }

    int ok = 1;
    for (int call = 0; call < calls; call++) {
        reports = 0;
        int result = CallAndCheck((void*)byName, path, mode, RecordProgress);
        EnterCriticalSection(&outputLock);
        printf("callbacks:");
        for (int i = 0; i < reports; i++)
            printf(" (%d,%d)", reportBlock[i], reportCount[i]);
        printf("\nresult: %d\n", result);
        fflush(stdout);
        LeaveCriticalSection(&outputLock);
    }

    InterlockedExchange(&watcherStop, 1);
    if (WaitForSingleObject(watcher, 10000) != WAIT_OBJECT_0) {
        fprintf(stderr, "hostcheck: the box watcher did not stop\n");
        ok = 0;
    }
    CloseHandle(watcher);

    if (conventionBroken) ok = 0;
    if (reportsOffThread != 0) {
        fprintf(stderr, "hostcheck: %d progress report(s) came on another thread\n", reportsOffThread);
        ok = 0;
    }
    if (reportsDropped != 0) {
        fprintf(stderr, "hostcheck: %d progress report(s) beyond %d not printed\n", reportsDropped, MAX_REPORTS);
        ok = 0;
    }
    if (boxesStuck != 0) ok = 0;
    FreeLibrary(module);
    return ok ? 0 : 1;
}
