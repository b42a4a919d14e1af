// Numbers to text and back: decimal places, hexadecimal, text to number, picture formatting.
#include "interp/Kestrin.h"
#include "values/CharClass.h"
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const size_t MAX_RESULT = 65534;        // longest text handed back in SYSTEM_STRING0
const int MAX_PRECISION = 65535;        // more decimals than that could never be handed back

void AppendF(std::string& out, const char* format, ...)
{
    va_list ap, again;
    va_start(ap, format);
    va_copy(again, ap);
    char small[128];
    int n = vsnprintf(small, sizeof small, format, ap);
    va_end(ap);
    if (n < 0) {
        va_end(again);
        return;
    }
    if ((size_t)n < sizeof small) {
        out.append(small, (size_t)n);
    } else {
        size_t at = out.size();
        out.resize(at + (size_t)n + 1);
        vsnprintf(&out[at], (size_t)n + 1, format, again);
        out.resize(at + (size_t)n);
    }
    va_end(again);
}

// Commas between groups of three digits of the integer part of field [from, end of out).
void InsertThousands(std::string& out, size_t from)
{
    size_t point = out.find('.', from);
    size_t i = point == std::string::npos ? out.size() : point;
    while (i > from && IsSpaceChar(out[i - 1])) --i;
    if (i == from || !IsDigit(out[i - 1])) return;
    int count = 0;
    while (i > from && IsDigit(out[i - 1])) {
        --i;
        if (++count == 3 && i > from && IsDigit(out[i - 1])) {
            out.insert(i, 1, ',');
            count = 0;
        }
    }
}

}

// Hands text back as the STRING result of s, cut to what SYSTEM_STRING0 holds.
static StmtRec* StringResult(Kestrin& k, StmtRec* s, const char* text, size_t n)
{
    VarRec* v = k.sysString;
    char* d = v ? Kestrin::StorageStart(v) : nullptr;
    size_t bytes = v ? Kestrin::StorageBytes(v) : 0;
    if (!d || bytes == 0) {
        k.errorCode = 2;
        return nullptr;
    }
    size_t cap = bytes - 1 < MAX_RESULT ? bytes - 1 : MAX_RESULT;
    if (n > cap) n = cap;
    memmove(d, text, n);
    d[n] = 0;
    v->data = d;
    s->resultType = T_STRING;
    return s;
}

StmtRec* Kestrin::CmdSetDecimalPrec(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, WANT_NUMBER)) return nullptr;
    decimalPrec = v.i;
    return s;
}

StmtRec* Kestrin::CmdToHex(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, WANT_NUMBER)) return nullptr;
    char text[17];
    int n = 0;
    uint64_t u = (uint64_t)v.i64;
    char digits[16];
    do {
        digits[n++] = "0123456789ABCDEF"[u & 15];
        u >>= 4;
    } while (u);
    for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    text[n] = 0;
    return StringResult(*this, s, text, (size_t)n);
}

StmtRec* Kestrin::CmdTextToNumber(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_STRING)) return nullptr;
    const char* p = v.text ? v.text : "";
    while (IsSpaceChar(*p)) ++p;
    // The longest decimal prefix: sign, digits, fraction, exponent (no hexadecimal, no "inf").
    const char* q = p;
    if (*q == '+' || *q == '-') ++q;
    const char* mantissa = q;
    while (IsDigit(*q)) ++q;
    bool any = q > mantissa;
    if (*q == '.') {
        const char* f = q + 1;
        while (IsDigit(*f)) ++f;
        if (any || f > q + 1) {
            any = true;
            q = f;
        }
    }
    double d = 0.0;
    if (any) {
        if (*q == 'e' || *q == 'E') {
            const char* e = q + 1;
            if (*e == '+' || *e == '-') ++e;
            if (IsDigit(*e)) {
                while (IsDigit(*e)) ++e;
                q = e;
            }
        }
        std::string number(p, (size_t)(q - p));
        d = strtod(number.c_str(), nullptr);
    }
    if (!sysDouble || !sysDouble->data) {
        errorCode = 2;
        return nullptr;
    }
    memcpy(sysDouble->data, &d, sizeof d);
    s->resultType = T_DOUBLE;
    return s;
}

StmtRec* Kestrin::CmdNumberToText(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, WANT_NUMBER)) return nullptr;
    std::string text;
    switch (v.type) {
    // Integer values are written exactly; only FLOAT and DOUBLE go through single precision.
    case T_CHAR: case T_INT: case T_WORD: AppendF(text, " %d", (int)v.i); break;
    case T_UINT: AppendF(text, " %u", (unsigned)(uint32_t)v.i); break;
    case T_INT64: AppendF(text, " %lld", (long long)v.i64); break;
    case T_UINT64: AppendF(text, " %llu", (unsigned long long)(uint64_t)v.i64); break;
    default: {
        float f = v.f;
        bool integral = f >= -2147483648.0f && f < 2147483648.0f && (float)(int32_t)f == f;
        if (integral) {
            AppendF(text, " %d", (int)v.i);
        } else {
            int prec = decimalPrec < 0 ? 6 : (decimalPrec > MAX_PRECISION ? MAX_PRECISION : decimalPrec);
            AppendF(text, " %.*f", prec, (double)f);
        }
        break;
    }
    }
    return StringResult(*this, s, text.data(), text.size());
}

StmtRec* Kestrin::CmdFormatPicture(StmtRec* s)
{
    if (s->argc < 2) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_STRING)) return nullptr;
    const std::string picture = v.text ? v.text : "";
    // Built here and handed back at the end: fetching an argument may evaluate an
    // expression, which uses SYSTEM_STRING0 for its own strings.
    std::string out;
    int next = 1, intDigits = 0, fracDigits = 0;
    bool point = false, left = false, zero = false, thousands = false;

    auto writeField = [&]() -> bool {
        if (intDigits == 0 && fracDigits == 0) return true;
        ValueRec n;
        if (!FetchArgument(&n, s, next, WANT_NUMBER)) return false;
        std::string format = "%";
        if (left) format += '-';
        if (zero) format += point ? "0" : ".";
        size_t start = out.size();
        if (point) {
            format += "*.*f";
            AppendF(out, format.c_str(), intDigits + 1 + fracDigits, fracDigits, n.d);
        } else if (n.type == T_INT64) {
            format += "*lld";
            AppendF(out, format.c_str(), intDigits, (long long)n.i64);
        } else if (n.type == T_UINT64) {
            format += "*llu";
            AppendF(out, format.c_str(), intDigits, (unsigned long long)(uint64_t)n.i64);
        } else if ((int64_t)n.i == n.i64) {
            format += "*d";
            AppendF(out, format.c_str(), intDigits, (int)n.i);
        } else {
            format += "*lld";
            AppendF(out, format.c_str(), intDigits, (long long)n.i64);
        }
        if (thousands) InsertThousands(out, start);
        if (out.size() > MAX_RESULT) out.resize(MAX_RESULT);
        ++next;
        intDigits = fracDigits = 0;
        point = left = zero = thousands = false;
        return true;
    };

    for (char c : picture) {
        switch (c) {
        case '#':
            if (point) ++fracDigits;
            else ++intDigits;
            break;
        case '.': point = true; break;
        case '-': left = true; break;
        case '0': zero = true; break;
        case ',': thousands = true; break;
        case '&': {
            if (!writeField()) return nullptr;
            ValueRec t;
            if (!FetchArgument(&t, s, next, T_STRING)) return nullptr;
            if (t.text) out.append(t.text, strnlen(t.text, MAX_RESULT + 1));
            if (out.size() > MAX_RESULT) out.resize(MAX_RESULT);
            ++next;
            break;
        }
        default:
            if (!writeField()) return nullptr;
            if (out.size() < MAX_RESULT) out += c;
            break;
        }
    }
    if (!writeField()) return nullptr;
    return StringResult(*this, s, out.data(), out.size());
}
