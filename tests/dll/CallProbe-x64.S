/*
 * uint32_t ProbeCall(const void *fn, uint32_t argCount,
 *                    const uintptr_t *args, int32_t *stackDelta)   (x64)
 *
 * Calls fn with args[0] (when argCount is 1) in RCX, all 64 bits of it,
 * with the 32 bytes of home space the x64 convention gives every callee,
 * and returns EAX as the callee left it. *stackDelta is RSP after the call
 * minus RSP before it: 0 unless the callee broke the stack or lost RSI or
 * RDI (callee-saved), which hold the probe's own values across the call.
 * RAX is filled with a pattern first, so that a one-byte result is seen in
 * AL with whatever the callee left in the upper bytes.
 */
    .text
    .globl ProbeCall
ProbeCall:
    pushq %rbp
    movq %rsp, %rbp
    pushq %rbx
    pushq %rsi
    pushq %rdi
    pushq %r12
    movq %rcx, %rbx
    movq %r9, %rsi
    xorl %ecx, %ecx
    testl %edx, %edx
    jz 1f
    movq (%r8), %rcx
1:  subq $32, %rsp
    movq %rsp, %rdi
    movabsq $0xA5A5A5A5A5A5A5A5, %rax
    call *%rbx
    movq %rsp, %rcx
    subq %rdi, %rcx
    movl %ecx, (%rsi)
    addq $32, %rsp
    popq %r12
    popq %rdi
    popq %rsi
    popq %rbx
    popq %rbp
    ret
