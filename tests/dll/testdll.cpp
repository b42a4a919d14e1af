// Functions for the tests of library calls from programs. On the 32-bit build they
// use stdcall unless their name says Cdecl; the exported names are undecorated.
// Addresses inside structures are 32-bit members, as the language lays them out.
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <cstring>

#define TESTAPI extern "C" __declspec(dllexport)

namespace {
int countedCalls = 0;
char greeting[] = "abc";
char longText[70000];
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        memset(longText, 'x', sizeof longText - 1);
        longText[sizeof longText - 1] = 0;
    }
    return TRUE;
}

// ---- numbers ----
TESTAPI int WINAPI AddInts(int a, int b) { return a + b; }
TESTAPI int WINAPI Negate(int a) { return -a; }
TESTAPI unsigned WINAPI HalfUnsigned(unsigned a) { return a / 2; }
TESTAPI unsigned short WINAPI SwapWord(unsigned short w) { return (unsigned short)(w << 8 | w >> 8); }
TESTAPI unsigned char WINAPI NextChar(int c) { return (unsigned char)(c + 1); }
// Upper bits of the result that a WORD or CHAR return type must not see.
TESTAPI unsigned WINAPI DirtyWord() { return 0xABCD1234u; }
TESTAPI long long WINAPI Wide64(int high, unsigned low) { return (long long)high << 32 | low; }

// Weighted so that every argument and its position matter.
TESTAPI int WINAPI Weigh6(int a, int b, int c, int d, int e, int f)
{
    return a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f;
}
TESTAPI int WINAPI Weigh10(int a, int b, int c, int d, int e, int f, int g, int h, int i, int j)
{
    return a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h + 9 * i + 10 * j;
}
TESTAPI int __cdecl CdeclWeigh3(int a, int b, int c) { return a + 10 * b + 100 * c; }
TESTAPI int __cdecl CdeclWeigh6(int a, int b, int c, int d, int e, int f)
{
    return a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f;
}

// A 64-bit parameter: on the 64-bit build a negative INT must arrive sign-extended.
TESTAPI int WINAPI IsMinusOne64(INT_PTR v) { return v == -1 ? 1 : 0; }

TESTAPI float WINAPI MulFloats(float a, float b) { return a * b; }
TESTAPI double WINAPI AddDoubles(double a, double b) { return a + b; }
TESTAPI int WINAPI DoubleToMilli(double a) { return (int)(a * 1000.0 + (a < 0 ? -0.5 : 0.5)); }
TESTAPI int WINAPI FloatToMilli(float a) { return (int)(a * 1000.0f + (a < 0 ? -0.5f : 0.5f)); }

// Mixed integer and floating-point arguments in and beyond the register positions.
TESTAPI double WINAPI Mixed(int a, double b, int c, float d, double e, int f)
{
    return a * 100000.0 + b * 10000.0 + c * 1000.0 + d * 100.0 + e * 10.0 + f;
}

// ---- strings ----
TESTAPI int WINAPI TextLength(const char* s) { return s ? (int)strlen(s) : -1; }
TESTAPI void WINAPI FillText(char* buf, int size)
{
    const char text[] = "written by dll";
    if (size <= 0) return;
    size_t n = strlen(text);
    if (n >= (size_t)size) n = (size_t)size - 1;
    memcpy(buf, text, n);
    buf[n] = 0;
}
TESTAPI const char* WINAPI Greeting() { return greeting; }
TESTAPI const char* WINAPI NullText() { return nullptr; }
TESTAPI const char* WINAPI LongText() { return longText; }

// ---- arrays and pointers ----
TESTAPI int WINAPI SumInts(const int* a, int n)
{
    int sum = 0;
    for (int i = 0; i < n; ++i) sum += a[i];
    return sum;
}
TESTAPI void WINAPI FillSquares(int* a, int n)
{
    for (int i = 0; i < n; ++i) a[i] = i * i;
}
TESTAPI void WINAPI ScaleDoubles(double* a, int n, double f)
{
    for (int i = 0; i < n; ++i) a[i] *= f;
}
TESTAPI void WINAPI StoreInt(int* p, int v) { *p = v; }
TESTAPI int* WINAPI PointerTo(int* p) { return p; }

// ---- structures ----
#pragma pack(push, 1)
struct Packed1 {
    char c;
    int i;
    unsigned short w;
};
#pragma pack(pop)
#pragma pack(push, 8)
struct Packed8 {
    char c;
    int i;
    unsigned short w;
    long long q;
    uint32_t text;    // address of a string member
    uint32_t values;  // address of an INT array member
};
#pragma pack(pop)
static_assert(sizeof(Packed1) == 7, "packing 1");
static_assert(offsetof(Packed8, i) == 4 && offsetof(Packed8, q) == 16, "packing 8");

// Reads every member and writes new values back.
TESTAPI int WINAPI TouchPacked1(Packed1* p)
{
    int seen = p->c * 1000000 + p->i * 10 + p->w;
    p->c = 'Z';
    p->i = 4321;
    p->w = 65535;
    return seen;
}
TESTAPI int WINAPI Packed1Byte(const unsigned char* p, int offset) { return p[offset]; }

TESTAPI int WINAPI TouchPacked8(Packed8* p)
{
    const char* text = (const char*)(uintptr_t)p->text;
    int* values = (int*)(uintptr_t)p->values;
    int ok = p->c == 'A' && p->i == -7 && p->w == 9 && p->q == 0x123456789LL
             && strcmp(text, "in") == 0 && values[0] == 5 && values[2] == 6;
    p->c = 'B';
    p->i = 70000;
    p->w = 40000;
    p->q = -2;
    strcpy((char*)text, "out");
    values[1] = 99;
    return ok;
}

// Replaces the address of the string member; the variable must keep its own storage.
TESTAPI void WINAPI RepointText(Packed8* p) { p->text = (uint32_t)(uintptr_t)greeting; }

// ---- call counting ----
// Announces every call on standard output, so a test can see that a call happened.
TESTAPI int WINAPI Counted(int a, int b, int c)
{
    ++countedCalls;
    const char text[] = "Counted called\n";
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, sizeof text - 1, &written, nullptr);
    return a + b + c;
}
TESTAPI int WINAPI CountedCalls() { return countedCalls; }
