// The language keeps addresses and handles in 32-bit slots on every build.
// All conversions between native pointers and slots go through here.
#pragma once
#include <cstdint>
#include <cstdio>

// Stores p in *slot; false when the address does not fit in 32 bits.
inline bool PtrToSlot(const void* p, uint32_t* slot)
{
    uintptr_t v = (uintptr_t)p;
    if (v > 0xFFFFFFFFu) return false;
    *slot = (uint32_t)v;
    return true;
}

inline void* SlotToPtr(uint32_t slot)
{
    return (void*)(uintptr_t)slot;
}

// A stream as the program holds it: a small heap object whose (low) address
// goes into FILE and BFILE slots, since the C library's own FILE objects may
// live above 4 GB on a 64-bit build.
struct KStream {
    FILE* fp;
};

inline FILE* StreamOfSlot(uint32_t slot)
{
    KStream* s = (KStream*)SlotToPtr(slot);
    return s ? s->fp : nullptr;
}
