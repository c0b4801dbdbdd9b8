/*
 * uint32_t ProbeCall(const void *fn, uint32_t argCount,
 *                    const uintptr_t *args, int32_t *stackDelta)   (x86)
 *
 * Pushes argCount 32-bit arguments (args[0] last, as C does), calls fn, and
 * returns EAX as the callee left it. *stackDelta is ESP after the call minus
 * ESP before the pushes: 0 when the callee removed its own arguments, as
 * stdcall requires. EAX is filled with a pattern first, so that a one-byte
 * result is seen in AL with whatever the callee left in the upper bytes.
 * A callee that loses ESI (callee-saved) also shows up as a non-zero delta.
 */
    .text
    .globl _ProbeCall
_ProbeCall:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl %esp, %esi
    movl 12(%ebp), %ecx
    movl 16(%ebp), %edx
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%edx,%ecx,4)
    jmp 1b
2:  movl $0xA5A5A5A5, %eax
    call *8(%ebp)
    movl %esp, %ecx
    subl %esi, %ecx
    movl 20(%ebp), %edx
    movl %ecx, (%edx)
    movl %esi, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
