/*
 * int CallImExWin32(void *function, const DWORD args[7],
 *                   const struct Win32Registers *load, struct Win32Registers *seen)
 *
 * cdecl. Pushes the seven arguments by hand, right to left, loads ebx,
 * ebp, esi and edi from *load and calls function; writes into *seen the
 * stack pointer before the pushes and after the call, and the four
 * callee-saved registers as the call left them. A __stdcall function must
 * leave esp where it was before the pushes; a compiler-generated call could
 * hide a wrong count behind a frame-pointer restore. Our own caller's
 * registers are kept in static memory and restored, so the check survives
 * a callee that broke them.
 *
 * struct Win32Registers: espBefore, espAfter, ebx, ebp, esi, edi (DWORDs).
 */

    .text
    .globl  _CallImExWin32
    .def    _CallImExWin32; .scl 2; .type 32; .endef
_CallImExWin32:
    movl    %esp, keptEsp
    movl    %ebx, keptGpr+0
    movl    %ebp, keptGpr+4
    movl    %esi, keptGpr+8
    movl    %edi, keptGpr+12
    movl    4(%esp), %eax
    movl    %eax, callTarget
    movl    16(%esp), %eax
    movl    %eax, seenImage
    movl    8(%esp), %ecx           /* the seven arguments */
    movl    12(%esp), %edx          /* the register image to load */

    movl    %esp, 0(%eax)
    pushl   24(%ecx)
    pushl   20(%ecx)
    pushl   16(%ecx)
    pushl   12(%ecx)
    pushl   8(%ecx)
    pushl   4(%ecx)
    pushl   0(%ecx)
    movl    8(%edx), %ebx
    movl    12(%edx), %ebp
    movl    16(%edx), %esi
    movl    20(%edx), %edi
    call    *callTarget

    movl    seenImage, %ecx
    movl    %esp, 4(%ecx)
    movl    %ebx, 8(%ecx)
    movl    %ebp, 12(%ecx)
    movl    %esi, 16(%ecx)
    movl    %edi, 20(%ecx)

    movl    keptEsp, %esp
    movl    keptGpr+0, %ebx
    movl    keptGpr+4, %ebp
    movl    keptGpr+8, %esi
    movl    keptGpr+12, %edi
    ret

    .data
    .balign 4
keptGpr:    .space 16
keptEsp:    .long 0
callTarget: .long 0
seenImage:  .long 0
