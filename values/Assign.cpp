// Command 20: assignment of one or more values to a variable, with the conversions
// the language allows between types.
#include "interp/Kestrin.h"
#include "values/ValueText.h"
#include "values/ElementBytes.h"
#include <cstdlib>
#include <cstring>

using namespace kv;

namespace {

const double TWO_POW_63 = 9223372036854775808.0;
const double TWO_POW_64 = 18446744073709551616.0;

// Truncation into 64 bits; an unsigned target keeps values from 2^63 up to 2^64.
uint64_t TruncTo64(double d, bool unsignedTarget)
{
    if (unsignedTarget && d >= TWO_POW_63 && d < TWO_POW_64) return (uint64_t)d;
    return (uint64_t)TruncToInt64(d);
}

// Copies at most limit characters of text (n characters available) and a NUL.
void CopyText(char* dest, const char* text, size_t n, int limit)
{
    if (limit < 0) limit = 0;
    if (n > (size_t)limit) n = (size_t)limit;
    memmove(dest, text, n);
    dest[n] = 0;
}

void Put8(char* p, uint64_t v) { memcpy(p, &v, 8); }
void Put2(char* p, uint16_t v) { memcpy(p, &v, 2); }
void PutFloat(char* p, float f) { memcpy(p, &f, 4); }
void PutDouble(char* p, double d) { memcpy(p, &d, 8); }

// A source element read as one number, in the widest view its type has.
struct Number {
    bool isFloat;    // d holds the value
    double d;
    int64_t i;       // integer value, sign- or zero-extended from the source width
};

bool ReadNumber(int type, const char* e, Number* n)
{
    n->isFloat = false;
    n->d = 0;
    n->i = 0;
    switch (type) {
    case T_CHAR: n->i = (uint8_t)*e; return true;
    case T_INT: n->i = (int32_t)ReadU32(e); return true;
    case T_UINT: n->i = ReadU32(e); return true;
    case T_WORD: {
        uint16_t w;
        memcpy(&w, e, 2);
        n->i = w;
        return true;
    }
    case T_INT64:
    case T_UINT64: memcpy(&n->i, e, 8); return true;
    case T_FLOAT: {
        float f;
        memcpy(&f, e, 4);
        n->isFloat = true;
        n->d = f;
        return true;
    }
    case T_DOUBLE:
        memcpy(&n->d, e, 8);
        n->isFloat = true;
        return true;
    default:
        return false;
    }
}

inline int64_t AsInteger(const Number& n) { return n.isFloat ? TruncToInt64(n.d) : n.i; }

}

// Stores the value of variable src (its current element) at dest of target t.
int Kestrin::StoreFromVariable(VarRec* t, char* dest, int limit, VarRec* src)
{
    int tt = t->type, st = src->type;
    const char* e = src->data;
    size_t avail = BytesFromElement(src);
    size_t need = (size_t)ElementSize(st);
    if (st == T_STRING) need = 1;

    if (tt == T_POINTER && st != T_POINTER) {
        uint32_t slot = 0;
        if (src->data && !SlotOf(src->data, &slot)) return 0;
        WriteU32(dest, slot);
        t->target = src;
        return 1;
    }
    if (!e || need == 0 || avail < need) {
        errorCode = 11;
        return 0;
    }

    if (tt == st) {
        switch (tt) {
        case T_STRING:
            CopyText(dest, e, strnlen(e, avail), limit);
            return 1;
        case T_DOUBLE: case T_INT64: case T_UINT64:
        case T_CHAR: case T_INT: case T_FLOAT: case T_MEMORY:
        case T_FILE: case T_BFILE: case T_WORD: case T_UINT:
            memmove(dest, e, (size_t)ElementSize(tt));
            return 1;
        case T_POINTER:
            memmove(dest, e, 4);
            t->target = src->target;
            return 1;
        case T_USER_0: {
            VarRec* to = (VarRec*)SlotToPtr(ReadU32(dest));
            VarRec* from = (VarRec*)SlotToPtr(ReadU32(e));
            if (!to || !from) {
                errorCode = 11;
                return 0;
            }
            return CopyStruct(to, from) && !errorCode;
        }
        default:
            errorCode = 11;
            return 0;
        }
    }

    Number n;
    bool number = ReadNumber(st, e, &n);
    bool window = st == T_WINDOW || st == T_DIALOG;
    switch (tt) {
    case T_STRING:
        if (st == T_CHAR) {
            dest[0] = *e;
            return 1;
        }
        break;
    case T_CHAR:
        if (st == T_STRING) {
            dest[0] = *e;
            return 1;
        }
        if (number && st != T_INT64 && st != T_UINT64) {
            dest[0] = (char)(uint8_t)AsInteger(n);
            return 1;
        }
        break;
    case T_INT:
    case T_UINT:
        if (window) {
            CKestrinWnd* w = KnownWindowObject(ReadU32(e));
            WriteU32(dest, w ? WindowObjectHandle(w) : 0);
            return 1;
        }
        if (number && st != T_INT64 && st != T_UINT64) {
            WriteU32(dest, (uint32_t)(uint64_t)AsInteger(n));
            return 1;
        }
        break;
    case T_FLOAT:
        if (number && st != T_INT64 && st != T_UINT64) {
            PutFloat(dest, n.isFloat ? (float)n.d : (float)n.i);
            return 1;
        }
        break;
    case T_WORD:
        if (number && st != T_INT64 && st != T_UINT64 && st != T_UINT) {
            Put2(dest, (uint16_t)(uint64_t)AsInteger(n));
            return 1;
        }
        break;
    case T_DOUBLE:
        if (number) {
            PutDouble(dest, n.isFloat ? n.d : (double)n.i);
            return 1;
        }
        break;
    case T_INT64:
    case T_UINT64:
        if (number) {
            Put8(dest, (uint64_t)AsInteger(n));
            return 1;
        }
        break;
    default:
        break;
    }
    errorCode = 11;
    return 0;
}

// Stores the value of argument arg at dest of target t; limit bounds string texts.
int Kestrin::StoreValue(VarRec* t, char* dest, int limit, StmtRec* s, int arg)
{
    char* text = s->args[arg];
    int tt = t->type;
    switch (s->kinds[arg]) {
    case KIND_NUMBER: {
        const char* v = SkipBlanks(text);
        switch (tt) {
        case T_CHAR: dest[0] = (char)(uint8_t)strtoll(v, nullptr, 0); return 1;
        case T_FLOAT: PutFloat(dest, (float)strtod(v, nullptr)); return 1;
        case T_WORD: Put2(dest, (uint16_t)strtoll(v, nullptr, 0)); return 1;
        case T_DOUBLE: PutDouble(dest, strtod(v, nullptr)); return 1;
        case T_INT64:
            Put8(dest, (v[0] && (v[1] == 'x' || v[1] == 'X')) ? strtoull(v, nullptr, 0)
                                                             : (uint64_t)strtoll(v, nullptr, 10));
            return 1;
        case T_UINT64:
            Put8(dest, strtoull(v, nullptr, (v[0] && (v[1] == 'x' || v[1] == 'X')) ? 0 : 10));
            return 1;
        case T_UINT:
        case T_INT: case T_SYSTEM_0: case T_MEMORY: case T_FILE: case T_WINDOW:
        case T_DIALOG: case T_BFILE: case T_POINTER:
            WriteU32(dest, (uint32_t)strtoull(v, nullptr, 0));
            return 1;
        default:   // STRING; no storage; a structure instance is never replaced by a number
            errorCode = 11;
            return 0;
        }
    }
    case KIND_STRING: {
        char* first = strchr(text, '"');
        char* last = strrchr(text, '"');
        if (!first || last == first) {
            errorCode = 1;
            return 0;
        }
        if (tt == T_STRING) {
            CopyText(dest, first + 1, (size_t)(last - first - 1), limit);
            return 1;
        }
        if (tt == T_CHAR) {
            dest[0] = last > first + 1 ? first[1] : 0;
            return 1;
        }
        errorCode = 11;
        return 0;
    }
    case KIND_NAME: {
        VarRec* src = LookupVariable(text, nullptr, true);
        if (!src) {
            if (!errorCode) errorCode = 10;
            return 0;
        }
        return StoreFromVariable(t, dest, limit, src);
    }
    case KIND_EXPRESSION: {
        double d = Evaluate(text);
        if (errorCode) return 0;
        if (tt == T_STRING) {
            if (!stringResult || !sysString || !StorageStart(sysString)) {
                errorCode = 11;
                return 0;
            }
            const char* r = StorageStart(sysString);
            CopyText(dest, r, strnlen(r, StorageBytes(sysString)), limit);
            return 1;
        }
        if (stringResult) {   // a text does not convert to a number
            errorCode = 11;
            return 0;
        }
        switch (tt) {
        case T_CHAR: dest[0] = (char)(uint8_t)TruncTo64(d, false); return 1;
        case T_WORD: Put2(dest, (uint16_t)TruncTo64(d, false)); return 1;
        case T_INT: case T_UINT: case T_WINDOW: case T_DIALOG: case T_MEMORY:
            WriteU32(dest, (uint32_t)TruncTo64(d, tt == T_UINT));
            return 1;
        case T_INT64: Put8(dest, TruncTo64(d, false)); return 1;
        case T_UINT64: Put8(dest, TruncTo64(d, true)); return 1;
        case T_FLOAT: PutFloat(dest, (float)d); return 1;
        case T_DOUBLE: PutDouble(dest, d); return 1;
        case T_POINTER:
            if (!sysPointer || !sysPointer->data) {
                errorCode = 11;
                return 0;
            }
            WriteU32(dest, ReadU32(sysPointer->data));
            t->target = sysPointer->target;
            return 1;
        default:
            errorCode = 11;
            return 0;
        }
    }
    default:
        errorCode = 1;
        return 0;
    }
}

StmtRec* Kestrin::CmdAssign(StmtRec* s)
{
    if (s->argc < 2) {
        errorCode = 56;
        return nullptr;
    }
    char* name = s->args[0];
    VarRec* t = LookupVariable(name, nullptr, true);
    if (!t) {
        if (!autoDeclare || errorCode == 7) return nullptr;
        if (strchr(name, '[') || strchr(name, '.')) return nullptr;
        bool dollar = strchr(name, '$') != nullptr;
        int type;
        switch (s->kinds[1]) {
        case KIND_NUMBER: type = HasUnquoted(s->args[1], '.') ? T_FLOAT : T_INT; break;
        case KIND_STRING: type = T_STRING; break;
        case KIND_NAME: type = dollar ? T_STRING : T_INT; break;
        case KIND_EXPRESSION: type = dollar ? T_STRING : T_FLOAT; break;
        default: return nullptr;
        }
        errorCode = 0;
        t = CreateVariable(name, type, 1, nullptr);
        if (!t) return nullptr;
        errorCode = 0;
    }
    if (t->constant) {
        errorCode = 58;
        return nullptr;
    }
    int values = (int)s->argc - 1;
    if (values > 1 && !t->indexed) {
        errorCode = 1;
        return nullptr;
    }
    int tt = t->type;
    if (tt == T_ARRAY_0 || tt == T_LABEL_0 || tt == T_ISTRING) {
        errorCode = 11;
        return nullptr;
    }
    // The element and capacity that the target lookup selected; looking up the
    // values may move them (a[1] = a[0]).
    char* data = t->data;
    int capacity = t->capacity;
    char* start = StorageStart(t);
    char* end = start ? start + StorageBytes(t) : nullptr;
    size_t size = (size_t)ElementSize(tt);
    if (tt == T_SYSTEM_0 && t->builtin && data) {   // DECIMAL_PREC: an int of the interpreter
        start = data;
        end = data + sizeof(int);
        size = sizeof(int);
    }
    size_t step = tt == T_STRING ? (size_t)(capacity > 0 ? capacity : 1) : size;
    if (tt == T_STRING) size = 1;

    for (int i = 0; i < values; ++i) {
        char* dest = data ? data + (size_t)i * step : nullptr;
        if (!dest || dest < start || dest + size > end) {
            errorCode = 65;
            return nullptr;
        }
        int limit = 0;
        if (tt == T_STRING) {
            size_t room = (size_t)(end - dest);
            if (capacity > 0 && (size_t)capacity < room) room = (size_t)capacity;
            limit = (int)room - 1;
        }
        if (!StoreValue(t, dest, limit, s, i + 1)) {
            if (!errorCode) errorCode = 11;
            return nullptr;
        }
    }
    return errorCode ? nullptr : s;
}
