/*
 * fakeimex.dll: a stand-in for imex.dll with known faults, used only to show
 * that hostcheck's findings can fail. The mode argument picks the act:
 *
 *   1   callbacks (1,2) (2,2), returns the size of the file at the path
 *       (-1 when it cannot be opened): a correct call
 *   11  returns with a callee-saved register changed (ebx / rbx)
 *   12  i386: returns removing no arguments; x86_64: returns with xmm6 changed
 *   13  makes its progress report from another thread
 *   14  callback (1,1), then a message box captioned "fake" with a
 *       code-page-936 text; returns 5 once it is dismissed
 *
 * Any other mode returns 0.
 */
#include <windows.h>
#include <stdio.h>

typedef void(WINAPI* ProgressCallback)(int block, int blockCount);

static ProgressCallback threadCallback;

static DWORD WINAPI ReportFromThread(LPVOID unused)
{
    (void)unused;
    threadCallback(1, 1);
    return 0;
}

int WINAPI FakeImExBody(int a, int b, int c, const char* path, int e, int mode, ProgressCallback progress)
{
    (void)a, (void)b, (void)c, (void)e;
    if (mode == 1) {
        progress(1, 2);
        progress(2, 2);
        HANDLE file =
            CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) return -1;
        DWORD size = GetFileSize(file, NULL);
        CloseHandle(file);
        return (int)size;
    }
    if (mode == 13) {
        threadCallback = progress;
        HANDLE thread = CreateThread(NULL, 0, ReportFromThread, NULL, 0, NULL);
        if (thread != NULL) {
            WaitForSingleObject(thread, 5000);
            CloseHandle(thread);
        }
        return 0;
    }
    if (mode == 14) {
        progress(1, 1);
        /* 此纪录数据传送失败 */
        MessageBoxA(NULL, "\xb4\xcb\xbc\xcd\xc2\xbc\xca\xfd\xbe\xdd\xb4\xab\xcb\xcd\xca\xa7\xb0\xdc", "fake",
                    MB_OK | MB_ICONEXCLAMATION);
        return 5;
    }
    return 0;
}

/*
 * The exported entry checks the mode itself, so that the faulty returns
 * happen in code the compiler cannot repair.
 */
#if defined(__x86_64__)
__asm__(
    "    .text\n"
    "    .globl ImEx\n"
    "ImEx:\n"
    "    cmpl $11, 48(%rsp)\n"
    "    je 1f\n"
    "    cmpl $12, 48(%rsp)\n"
    "    je 2f\n"
    "    jmp FakeImExBody\n"
    "1:  movq $0x5a5a5a5a, %rbx\n"
    "    xorl %eax, %eax\n"
    "    ret\n"
    "2:  pxor %xmm6, %xmm6\n"
    "    xorl %eax, %eax\n"
    "    ret\n"
    "    .section .drectve\n"
    "    .ascii \" -export:ImEx\"\n"
    "    .text\n");
#elif defined(__i386__)
__asm__(
    "    .text\n"
    "    .globl _ImEx@28\n"
    "_ImEx@28:\n"
    "    cmpl $11, 24(%esp)\n"
    "    je 1f\n"
    "    cmpl $12, 24(%esp)\n"
    "    je 2f\n"
    "    jmp _FakeImExBody@28\n"
    "1:  movl $0x5a5a5a5a, %ebx\n"
    "    xorl %eax, %eax\n"
    "    ret $28\n"
    "2:  xorl %eax, %eax\n"
    "    ret\n"
    "    .section .drectve\n"
    "    .ascii \" -export:ImEx=ImEx@28\"\n"
    "    .text\n");
#endif
