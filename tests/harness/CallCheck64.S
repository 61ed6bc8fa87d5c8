/*
 * int CallImExChecked(IMEX_FUNCTION function, const char *path, int mode,
 *                     unsigned *changed);
 *
 * Calls function(0, 0, 0, path, 0, mode, NULL) the way a Win64 caller does
 * (four arguments in registers, shadow space and three on the stack) with
 * every callee-saved register loaded with a known pattern, and reports in
 * *changed which of them the callee left different: bit 0 the stack
 * pointer, bits 1-8 rbx, rbp, rdi, rsi, r12, r13, r14, r15, bits 9-10 the
 * low halves of xmm6 and xmm15. The caller's own registers are restored.
 */
    .text
    .globl CallImExChecked
    .def CallImExChecked; .scl 2; .type 32; .endef
CallImExChecked:
    pushq %rbx
    pushq %rbp
    pushq %rdi
    pushq %rsi
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    /* 0-31 shadow space, 32/40/48 arguments 5-7, 56 `changed`, 64 and 80
     * the caller's xmm6 and xmm15; 8 pushes + 104 keep rsp 16-byte aligned. */
    subq $104, %rsp
    movq %r9, 56(%rsp)
    movdqu %xmm6, 64(%rsp)
    movdqu %xmm15, 80(%rsp)

    movq %rcx, %rax             /* the function */
    movq %rdx, %r9              /* argument 4: path */
    movq $0, 32(%rsp)           /* argument 5 */
    movslq %r8d, %r8
    movq %r8, 40(%rsp)          /* argument 6: mode */
    movq $0, 48(%rsp)           /* argument 7: no callback */
    xorl %ecx, %ecx             /* arguments 1-3 */
    xorl %edx, %edx
    xorl %r8d, %r8d

    movq %rsp, savedStack(%rip)
    movabsq $0x1B1B1B1B1B1B1B1B, %rbx
    movabsq $0x2B2B2B2B2B2B2B2B, %rbp
    movabsq $0x3B3B3B3B3B3B3B3B, %rdi
    movabsq $0x4B4B4B4B4B4B4B4B, %rsi
    movabsq $0x5B5B5B5B5B5B5B5B, %r12
    movabsq $0x6B6B6B6B6B6B6B6B, %r13
    movabsq $0x7B7B7B7B7B7B7B7B, %r14
    movabsq $0x0B0B0B0B0B0B0B0B, %r15
    movabsq $0x6E6E6E6E6E6E6E6E, %r10
    movq %r10, %xmm6
    movabsq $0x5E5E5E5E5E5E5E5E, %r10
    movq %r10, %xmm15

    call *%rax

    xorl %r10d, %r10d
    cmpq savedStack(%rip), %rsp
    je 1f
    orl $1, %r10d
    movq savedStack(%rip), %rsp /* put the stack back whatever the callee did */
1:
    movabsq $0x1B1B1B1B1B1B1B1B, %r11
    cmpq %r11, %rbx
    je 2f
    orl $2, %r10d
2:
    movabsq $0x2B2B2B2B2B2B2B2B, %r11
    cmpq %r11, %rbp
    je 3f
    orl $4, %r10d
3:
    movabsq $0x3B3B3B3B3B3B3B3B, %r11
    cmpq %r11, %rdi
    je 4f
    orl $8, %r10d
4:
    movabsq $0x4B4B4B4B4B4B4B4B, %r11
    cmpq %r11, %rsi
    je 5f
    orl $16, %r10d
5:
    movabsq $0x5B5B5B5B5B5B5B5B, %r11
    cmpq %r11, %r12
    je 6f
    orl $32, %r10d
6:
    movabsq $0x6B6B6B6B6B6B6B6B, %r11
    cmpq %r11, %r13
    je 7f
    orl $64, %r10d
7:
    movabsq $0x7B7B7B7B7B7B7B7B, %r11
    cmpq %r11, %r14
    je 8f
    orl $128, %r10d
8:
    movabsq $0x0B0B0B0B0B0B0B0B, %r11
    cmpq %r11, %r15
    je 9f
    orl $256, %r10d
9:
    movq %xmm6, %rcx
    movabsq $0x6E6E6E6E6E6E6E6E, %r11
    cmpq %r11, %rcx
    je 10f
    orl $512, %r10d
10:
    movq %xmm15, %rcx
    movabsq $0x5E5E5E5E5E5E5E5E, %r11
    cmpq %r11, %rcx
    je 11f
    orl $1024, %r10d
11:
    movq 56(%rsp), %rcx
    movl %r10d, (%rcx)
    movdqu 64(%rsp), %xmm6
    movdqu 80(%rsp), %xmm15
    addq $104, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rsi
    popq %rdi
    popq %rbp
    popq %rbx
    ret

    .bss
    .align 8
savedStack:
    .space 8
