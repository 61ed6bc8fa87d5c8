/*
 * int CallImExWin64(void *function, const UINT64 args[7],
 *                   const struct Win64Registers *load, struct Win64Registers *seen)
 *
 * Calls function with the seven arguments in the Win64 convention (1-4 in
 * rcx, rdx, r8, r9, 32 bytes of shadow space, 5-7 on the stack) after
 * loading every callee-saved register from *load, and writes into *seen the
 * stack pointer right before and right after the call, the callee-saved
 * registers as the call left them, and the MXCSR and x87 control words
 * before and after. Our own caller's registers are kept in static memory
 * and restored, so the check works even if the callee broke them.
 * Layout of struct Win64Registers: see hostcheck.c.
 */

    .text
    .globl  CallImExWin64
    .def    CallImExWin64; .scl 2; .type 32; .endef
CallImExWin64:
    movq    %rsp, keptRsp(%rip)
    movq    %rbx, keptGpr+0(%rip)
    movq    %rbp, keptGpr+8(%rip)
    movq    %rdi, keptGpr+16(%rip)
    movq    %rsi, keptGpr+24(%rip)
    movq    %r12, keptGpr+32(%rip)
    movq    %r13, keptGpr+40(%rip)
    movq    %r14, keptGpr+48(%rip)
    movq    %r15, keptGpr+56(%rip)
    movdqu  %xmm6, keptXmm+0(%rip)
    movdqu  %xmm7, keptXmm+16(%rip)
    movdqu  %xmm8, keptXmm+32(%rip)
    movdqu  %xmm9, keptXmm+48(%rip)
    movdqu  %xmm10, keptXmm+64(%rip)
    movdqu  %xmm11, keptXmm+80(%rip)
    movdqu  %xmm12, keptXmm+96(%rip)
    movdqu  %xmm13, keptXmm+112(%rip)
    movdqu  %xmm14, keptXmm+128(%rip)
    movdqu  %xmm15, keptXmm+144(%rip)
    movq    %rcx, callTarget(%rip)
    movq    %r9, seenImage(%rip)

    /* MXCSR and x87 control word as they are before the call. */
    stmxcsr 248(%r9)
    fnstcw  256(%r9)

    movq    %rdx, %r10              /* the seven arguments */
    movq    %r8, %r11               /* the register image to load */
    movq    16(%r11), %rbx
    movq    24(%r11), %rbp
    movq    32(%r11), %rdi
    movq    40(%r11), %rsi
    movq    48(%r11), %r12
    movq    56(%r11), %r13
    movq    64(%r11), %r14
    movq    72(%r11), %r15
    movdqu  88(%r11), %xmm6
    movdqu  104(%r11), %xmm7
    movdqu  120(%r11), %xmm8
    movdqu  136(%r11), %xmm9
    movdqu  152(%r11), %xmm10
    movdqu  168(%r11), %xmm11
    movdqu  184(%r11), %xmm12
    movdqu  200(%r11), %xmm13
    movdqu  216(%r11), %xmm14
    movdqu  232(%r11), %xmm15

    /*
     * On entry rsp is 8 modulo 16; 72 bytes (shadow space, three stack
     * arguments, padding) make it 16-aligned at the call.
     */
    subq    $72, %rsp
    movq    32(%r10), %rax
    movq    %rax, 32(%rsp)
    movq    40(%r10), %rax
    movq    %rax, 40(%rsp)
    movq    48(%r10), %rax
    movq    %rax, 48(%rsp)
    movq    0(%r10), %rcx
    movq    8(%r10), %rdx
    movq    16(%r10), %r8
    movq    24(%r10), %r9
    movq    seenImage(%rip), %r11
    movq    %rsp, 0(%r11)
    movq    callTarget(%rip), %r10
    call    *%r10

    movq    seenImage(%rip), %r10
    movq    %rsp, 8(%r10)
    movq    %rbx, 16(%r10)
    movq    %rbp, 24(%r10)
    movq    %rdi, 32(%r10)
    movq    %rsi, 40(%r10)
    movq    %r12, 48(%r10)
    movq    %r13, 56(%r10)
    movq    %r14, 64(%r10)
    movq    %r15, 72(%r10)
    movdqu  %xmm6, 88(%r10)
    movdqu  %xmm7, 104(%r10)
    movdqu  %xmm8, 120(%r10)
    movdqu  %xmm9, 136(%r10)
    movdqu  %xmm10, 152(%r10)
    movdqu  %xmm11, 168(%r10)
    movdqu  %xmm12, 184(%r10)
    movdqu  %xmm13, 200(%r10)
    movdqu  %xmm14, 216(%r10)
    movdqu  %xmm15, 232(%r10)
    stmxcsr 252(%r10)
    fnstcw  258(%r10)

    movq    keptRsp(%rip), %rsp
    movq    keptGpr+0(%rip), %rbx
    movq    keptGpr+8(%rip), %rbp
    movq    keptGpr+16(%rip), %rdi
    movq    keptGpr+24(%rip), %rsi
    movq    keptGpr+32(%rip), %r12
    movq    keptGpr+40(%rip), %r13
    movq    keptGpr+48(%rip), %r14
    movq    keptGpr+56(%rip), %r15
    movdqu  keptXmm+0(%rip), %xmm6
    movdqu  keptXmm+16(%rip), %xmm7
    movdqu  keptXmm+32(%rip), %xmm8
    movdqu  keptXmm+48(%rip), %xmm9
    movdqu  keptXmm+64(%rip), %xmm10
    movdqu  keptXmm+80(%rip), %xmm11
    movdqu  keptXmm+96(%rip), %xmm12
    movdqu  keptXmm+112(%rip), %xmm13
    movdqu  keptXmm+128(%rip), %xmm14
    movdqu  keptXmm+144(%rip), %xmm15
    ret

    .data
    .balign 16
keptXmm:    .space 160
keptGpr:    .space 64
keptRsp:    .quad 0
callTarget: .quad 0
seenImage:  .quad 0
