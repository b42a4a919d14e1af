// Character classes of program text, as table lookups (these run for every
// character of every statement).
#pragma once
#include <cstdint>

namespace charclass {

enum : uint8_t {
    OPERATOR = 1,      // "*+-<>|&=~^/(@%" and the constant-token byte 0xFE
    ARG_OPERATOR = 2,  // operators that make a command argument an expression
    ENDS_NAME = 4,     // operators that end an identifier inside an expression
};

struct Table {
    uint8_t bits[256];
    constexpr Table() : bits()
    {
        for (const char* p = "*+-<>|&=~^/(@%"; *p; ++p) bits[(uint8_t)*p] |= OPERATOR;
        bits[0xFE] |= OPERATOR;
        for (const char* p = "%&*+-/<=>@^|~"; *p; ++p) bits[(uint8_t)*p] |= ARG_OPERATOR;
        for (const char* p = "+-*/&|^=~<>,%"; *p; ++p) bits[(uint8_t)*p] |= ENDS_NAME;
    }
};

inline constexpr Table Classes{};

inline bool Has(char c, uint8_t bit) { return (Classes.bits[(uint8_t)c] & bit) != 0; }

}

inline bool IsOperatorChar(char c) { return charclass::Has(c, charclass::OPERATOR); }
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool IsSpaceChar(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
