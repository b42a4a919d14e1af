// The call thunk of the 64-bit build.
#if defined(__x86_64__)
#include "interp/CallThunk.h"

// KestrinThunkX64(fn, args, count, xmm0) calls fn with count 64-bit arguments: the
// first four in RCX, RDX, R8, R9 and in XMM0-XMM3, the others on the stack above
// the shadow space. args must hold at least four entries (the first four are always
// loaded). XMM0 after the call is stored into *xmm0; returns RAX.
extern "C" uint64_t KestrinThunkX64(const void* fn, const uint64_t* args, uint64_t count,
                                    uint64_t* xmm0);

asm(R"(
    .text
    .p2align 4
    .globl KestrinThunkX64
    .def KestrinThunkX64; .scl 2; .type 32; .endef
    .seh_proc KestrinThunkX64
KestrinThunkX64:
    pushq %rbp
    .seh_pushreg %rbp
    pushq %rsi
    .seh_pushreg %rsi
    pushq %rdi
    .seh_pushreg %rdi
    pushq %rbx
    .seh_pushreg %rbx
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    movq %rcx, %r11
    movq %rdx, %rsi
    movq %r9, %rbx
    movq %r8, %rcx
    cmpq $4, %rcx
    jae 1f
    movl $4, %ecx
1:
    leaq 0(,%rcx,8), %rax
    subq %rax, %rsp
    andq $-16, %rsp
    movq %rsp, %rdi
    cld
    rep movsq
    movq 0(%rsp), %rcx
    movq 8(%rsp), %rdx
    movq 16(%rsp), %r8
    movq 24(%rsp), %r9
    movq %rcx, %xmm0
    movq %rdx, %xmm1
    movq %r8, %xmm2
    movq %r9, %xmm3
    call *%r11
    movq %xmm0, (%rbx)
    leaq 0(%rbp), %rsp
    popq %rbx
    popq %rdi
    popq %rsi
    popq %rbp
    ret
    .seh_endproc
)");

bool CCallThunk::Invoke(const void* fn, ReturnClass rc, CallResult* result) const
{
    if (!fn) return false;
    uint64_t args[CALL_SLOTS] = {};
    int n = 0;
    for (int i = 0; i < count; ++i) {
        switch (classes[i]) {
        case SLOT_SIGNED:
            args[n++] = (uint64_t)(int64_t)(int32_t)slots[i];
            break;
        case SLOT_UNSIGNED:
        case SLOT_FLOAT:
            args[n++] = slots[i];
            break;
        case SLOT_DOUBLE_LOW:
            if (i + 1 >= count || classes[i + 1] != SLOT_DOUBLE_HIGH) return false;
            args[n++] = slots[i] | (uint64_t)slots[i + 1] << 32;
            ++i;
            break;
        default:
            return false;
        }
    }
    uint64_t xmm0 = 0;
    result->value = KestrinThunkX64(fn, args, (uint64_t)n, &xmm0);
    result->f = 0.0f;
    result->d = 0.0;
    if (rc == RETURN_FLOAT) memcpy(&result->f, &xmm0, sizeof result->f);
    if (rc == RETURN_DOUBLE) memcpy(&result->d, &xmm0, sizeof result->d);
    return true;
}

#endif
