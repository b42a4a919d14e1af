// Small text and number helpers shared by the sources of values/.
#pragma once
#include <cstdint>
#include <cstring>
#include <cmath>
#include "values/CharClass.h"

namespace kv {

inline unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + 32) : c; }
using ::IsBlank;
using ::IsLetter;
using ::IsDigit;
inline bool IsOperator(char c) { return IsOperatorChar(c); }

inline char* SkipBlanks(char* p)
{
    while (IsBlank(*p)) ++p;
    return p;
}
inline const char* SkipBlanks(const char* p)
{
    while (IsBlank(*p)) ++p;
    return p;
}

// True when the text holds c outside double quotes.
inline bool HasUnquoted(const char* p, char c)
{
    bool inq = false;
    for (; *p; ++p) {
        if (*p == '"') inq = !inq;
        else if (*p == c && !inq) return true;
    }
    return false;
}

// The constant token of the event window (constant entry 72).
inline bool IsEventWindowToken(const char* p)
{
    return (unsigned char)p[0] == 0xFE && (unsigned char)p[1] == 0xE4 && (unsigned char)p[2] == 0xE8;
}

// Truncation toward zero; values outside the 64-bit range give the x86 "indefinite" value.
inline int64_t TruncToInt64(double d)
{
    if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0)) return INT64_MIN;
    return (int64_t)d;
}
// Truncation toward zero into 32 bits; out-of-range values wrap.
inline int32_t TruncToInt32(double d) { return (int32_t)(uint32_t)(uint64_t)TruncToInt64(d); }

// Unaligned reads and writes of element storage.
inline uint32_t ReadU32(const char* p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}
inline void WriteU32(char* p, uint32_t v) { memcpy(p, &v, 4); }

// A character that a scope restores when it ends (texts that are cut for a moment).
struct CutMark {
    char* at = nullptr;
    char saved = 0;
    void Cut(char* p)
    {
        at = p;
        saved = *p;
        *p = 0;
    }
    void Restore()
    {
        if (at) *at = saved;
        at = nullptr;
    }
    ~CutMark() { Restore(); }
};

}
