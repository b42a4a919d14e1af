// The call thunk of the 32-bit build.
#if defined(__i386__)
#include "interp/CallThunk.h"

// KestrinThunkX86(fn, slots, count, readSt0, st0) pushes the count slots so that
// slots[0] is the first argument, keeps the stack 16-byte aligned at the call and
// takes the stack pointer back from the frame afterwards, whichever side removed
// the arguments. With readSt0 set, ST0 is stored (and popped) into *st0.
// Returns EDX:EAX.
extern "C" uint64_t KestrinThunkX86(const void* fn, const uint32_t* slots, uint32_t count,
                                    uint32_t readSt0, double* st0);

asm(R"(
    .text
    .p2align 4
    .globl _KestrinThunkX86
    .def _KestrinThunkX86; .scl 2; .type 32; .endef
_KestrinThunkX86:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    movl 16(%ebp), %ecx
    leal 0(,%ecx,4), %eax
    subl %eax, %esp
    andl $-16, %esp
    movl 12(%ebp), %esi
    movl %esp, %edi
    cld
    rep movsl
    movl 8(%ebp), %eax
    call *%eax
    movl 20(%ebp), %ecx
    testl %ecx, %ecx
    jz 1f
    movl 24(%ebp), %ecx
    fstpl (%ecx)
1:
    leal -8(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebp
    ret
)");

bool CCallThunk::Invoke(const void* fn, ReturnClass rc, CallResult* result) const
{
    if (!fn) return false;
    for (int i = 0; i < count; ++i) {
        bool low = classes[i] == SLOT_DOUBLE_LOW;
        bool pairedHigh = i + 1 < count && classes[i + 1] == SLOT_DOUBLE_HIGH;
        if (low && !pairedHigh) return false;
        if (low) ++i;
        else if (classes[i] == SLOT_DOUBLE_HIGH) return false;
    }
    double st0 = 0;
    result->value = KestrinThunkX86(fn, slots, (uint32_t)count, rc != RETURN_INT, &st0);
    result->f = rc == RETURN_FLOAT ? (float)st0 : 0.0f;
    result->d = rc == RETURN_DOUBLE ? st0 : 0.0;
    return true;
}

#endif
