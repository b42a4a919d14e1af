// Calls a function of a library with the language's 32-bit argument slots.
//
// The slots are collected in argument order together with a class that says how
// the slot is read by the callee. On the 32-bit build the slots are pushed as they
// are (last slot first), and the stack pointer is restored from the frame after
// the call, so stdcall (callee pops) and cdecl (caller pops) functions are both
// served by one thunk. On the 64-bit build every argument becomes one 64-bit
// argument of the x64 convention:
//   SLOT_SIGNED    sign-extended (a negative INT keeps its value in a 64-bit parameter)
//   SLOT_UNSIGNED  zero-extended (addresses, handles, UINT, WORD: a 32-bit address is
//                  a full 64-bit address of the low 4 GB)
//   SLOT_FLOAT     the float's 32 bits in the low half, upper half zero
//   SLOT_DOUBLE_LOW + SLOT_DOUBLE_HIGH  the two slots of one DOUBLE, one 64-bit argument
// The first four arguments go to RCX, RDX, R8, R9 and also to XMM0-XMM3, so integer
// and floating-point parameters both find their value; the rest go to the stack
// above the 32 bytes of shadow space.
//
// Results: the integer result is RAX (64-bit build) or EDX:EAX (32-bit build).
// A floating-point result is read from XMM0 on the 64-bit build and from ST0 on the
// 32-bit build; ST0 is popped only when a floating-point result was asked for, so the
// x87 stack stays balanced for functions that return integers.
#pragma once
#include <cstdint>
#include <cstring>

const int CALL_SLOTS = 30;

enum SlotClass : uint8_t {
    SLOT_SIGNED = 0,
    SLOT_UNSIGNED = 1,
    SLOT_FLOAT = 2,
    SLOT_DOUBLE_LOW = 3,
    SLOT_DOUBLE_HIGH = 4
};

enum ReturnClass { RETURN_INT = 0, RETURN_FLOAT = 1, RETURN_DOUBLE = 2 };

struct CallResult {
    uint64_t value;   // RAX, or EDX:EAX
    float f;          // RETURN_FLOAT
    double d;         // RETURN_DOUBLE
};

class CCallThunk {
public:
    CCallThunk() : count(0) {}

    // Each Add returns false (and adds nothing) when the slots do not fit.
    bool Add(uint32_t slot, SlotClass cls)
    {
        if (count >= CALL_SLOTS) return false;
        slots[count] = slot;
        classes[count++] = cls;
        return true;
    }
    bool AddFloat(float value)
    {
        uint32_t bits;
        memcpy(&bits, &value, sizeof bits);
        return Add(bits, SLOT_FLOAT);
    }
    // A DOUBLE takes two consecutive slots: its eight bytes in memory order.
    bool AddDouble(double value)
    {
        if (count + 2 > CALL_SLOTS) return false;
        uint32_t half[2];
        memcpy(half, &value, sizeof half);
        Add(half[0], SLOT_DOUBLE_LOW);
        Add(half[1], SLOT_DOUBLE_HIGH);
        return true;
    }

    int Count() const { return count; }
    uint32_t Slot(int i) const { return slots[i]; }
    SlotClass Class(int i) const { return (SlotClass)classes[i]; }

    // Calls fn; false (without calling) when fn is null or a DOUBLE half is unpaired.
    bool Invoke(const void* fn, ReturnClass rc, CallResult* result) const;

private:
    uint32_t slots[CALL_SLOTS];
    uint8_t classes[CALL_SLOTS];
    int count;
};
