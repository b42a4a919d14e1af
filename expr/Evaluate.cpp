// The expression evaluator: argument text -> number, or a string in SYSTEM_STRING0.
//
// The text is copied into a working buffer and reduced group by group: the innermost
// parenthesised group is evaluated, its values go into numbered slots, and the group
// is overwritten by two-byte slot references (marker, slot number). Commands and SUBs
// used as functions run on a statement record of their own.
#include "interp/Kestrin.h"
#include "values/CharClass.h"
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

const int EXPR_BUFFER = 1024;       // 1023 characters and NUL
const int NUMBER_SLOTS = 29;
const int STRING_SLOTS = 28;
const int MAX_OPERANDS = 15;
const int MAX_OPERATORS = 14;
const size_t MAX_STRING = 65534;    // longest string an evaluation hands back

// Slot reference markers.
const uint8_t M_NUMBER = 4, M_STRING = 5, M_NAME = 6, M_EMPTY = 7;
// Operand kinds.
const uint8_t K_STRING = 0, K_NUMBER = 14, K_NAME = 23;
// Folded two-character operators.
const uint8_t OP_LE = 14, OP_GE = 15, OP_NE = 9, OP_XOR = 16;

inline bool IsSpace(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsMarker(uint8_t c) { return c >= M_NUMBER && c <= M_EMPTY; }
inline bool IsControl(uint8_t c) { return c < 32 || c == 127; }
inline bool IsPunct(uint8_t c)
{
    return (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) || (c >= 123 && c <= 126);
}
inline uint8_t Upper(uint8_t c) { return (c >= 'a' && c <= 'z') ? (uint8_t)(c - 32) : c; }
inline bool EndsIdentifier(uint8_t c) { return IsMarker(c) || charclass::Has((char)c, charclass::ENDS_NAME); }

int Precedence(uint8_t op)
{
    switch (op) {
    case '&': case '|': return 1;
    case '=': case '<': case '>': case OP_LE: case OP_GE: case OP_NE: case '~': return 2;
    case '+': case '-': return 3;
    case '*': case '/': case '%': case OP_XOR: return 4;
    case '^': return 5;
    default: return 0;   // ',' separates entries
    }
}

// Truncation toward zero; NaN and values outside the range give INT64_MIN, as the FPU does.
int64_t Trunc64(double d)
{
    if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0)) return INT64_MIN;
    return (int64_t)d;
}

int DigitValue(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// Unsigned 32-bit digits in a base; larger values stay at 4294967295.
const char* ParseUnsigned(const char* p, int base, uint32_t* out, bool* any)
{
    uint64_t v = 0;
    *any = false;
    for (int d; (d = DigitValue((uint8_t)*p)) < base; ++p) {
        *any = true;
        v = v * (uint64_t)base + (uint64_t)d;
        if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
    }
    *out = (uint32_t)v;
    return p;
}

// A number as a call argument: an integer when it survives the round trip through 32 bits.
int FormatNumberArg(char* out, size_t size, double v)
{
    if (v >= -2147483648.0 && v <= 2147483647.0 && (double)(int32_t)v == v)
        return snprintf(out, size, "%d", (int)(int32_t)v);
    return snprintf(out, size, "%.16f", v);
}

struct Operand {
    uint8_t kind;
    bool neg;
    bool nameInText;    // a name held in text; otherwise it lies in the buffer at nameOff
    double num;
    int nameOff;
    int nameLen;
    std::string text;
};

}

namespace kexpr {

// The state of one evaluation. Interpreters keep one per nesting level and reuse
// it, so its string slots keep their storage between evaluations.
class Evaluator {
public:
    explicit Evaluator(Kestrin& k) : k(k) {}
    ~Evaluator() { k.FreeStatementRecord(rec); }
    double Run(const char* text);
    void Reset()
    {
        numCount = strCount = operandCount = operatorCount = entryCount = 0;
        lastMarker = lastSlot = 0;
        isString = false;
    }
    void Done()
    {
        k.FreeStatementRecord(rec);
        rec = nullptr;
        longArgs.clear();
    }
    bool IsString() const { return isString; }

private:
    Kestrin& k;
    char buf[EXPR_BUFFER];
    double nums[NUMBER_SLOTS];
    std::string strs[STRING_SLOTS];
    int numCount = 0, strCount = 0;
    Operand operands[MAX_OPERANDS];
    uint8_t opers[MAX_OPERATORS];
    int operandCount = 0, operatorCount = 0;
    int entries[MAX_OPERANDS];
    int entryCount = 0;
    uint8_t lastMarker = 0, lastSlot = 0;
    bool isString = false;
    StmtRec* rec = nullptr;
    std::vector<std::string> longArgs;   // argument texts that do not fit a 256-byte buffer

    bool Fail(uint8_t code)
    {
        if (!k.errorCode) k.errorCode = code;
        return false;
    }
    int FindLastOpen(int limit) const;
    bool ReadGroup(int start, bool paren, int* close);
    Operand& NewOperand(uint8_t kind, bool neg);
    bool ReadNumber(int* p, bool drop, bool neg);
    bool ReadIdentifier(int* p, bool drop, bool neg);
    bool ReadNamedConstant(int* p, bool drop, bool neg);
    bool ReadSlot(int* p, bool drop, bool neg);
    bool SlotText(uint8_t marker, uint8_t slot, const char** text, size_t* len, char* numBuf, size_t numSize);
    bool CallCommand(int s, int end, int* next, bool neg);
    bool CallLabel(VarRec* label, const char* name, size_t len, Operand& o);
    StmtRec* Record();
    void SetArg(StmtRec* r, int i, const char* pre, const char* body, size_t len, const char* post, int kind);
    bool RunRecord(StmtRec* r, Operand& o);
    void TakeResult(StmtRec* r, Operand& o);
    bool Resolve(Operand& o);
    bool ValueOf(VarRec* v, const char* name, size_t len, Operand& o);
    bool ComputeGroup();
    bool Parse(int level, int& i);
    bool Apply(uint8_t op, Operand& l, Operand& r);
    bool StoreEntries(int open, int close);
    double Finish();
    void SetResultString(const char* p, size_t n);
};

int Evaluator::FindLastOpen(int limit) const
{
    int last = -1;
    bool inq = false;
    for (int i = 0; i < limit && buf[i]; ++i) {
        if (buf[i] == '"') inq = !inq;
        else if (buf[i] == '(' && !inq) last = i;
    }
    return last;
}

double Evaluator::Run(const char* text)
{
    size_t len = strlen(text);
    if (len >= (size_t)EXPR_BUFFER) {
        Fail(1);
        return 0.0;
    }
    memcpy(buf, text, len + 1);
    int limit = (int)len;
    for (;;) {
        int open = FindLastOpen(limit);
        int close = 0;
        bool ok = ReadGroup(open < 0 ? 0 : open, open >= 0, &close);
        // Every group of a pass ends at its own ")"; the final text holds none.
        if (ok && (open >= 0) != (buf[close] == ')')) ok = Fail(18);
        if (ok) ok = ComputeGroup();
        if (ok && k.errorCode == 0) ok = StoreEntries(open, close);
        if (!ok || k.errorCode) return 0.0;
        if (open < 0) break;
        limit = open;
    }
    return Finish();
}

Operand& Evaluator::NewOperand(uint8_t kind, bool neg)
{
    Operand& o = operands[operandCount++];
    o.kind = kind;
    o.neg = neg;
    o.nameInText = false;
    o.num = 0.0;
    o.nameOff = o.nameLen = 0;
    o.text.clear();
    return o;
}

bool Evaluator::ReadGroup(int start, bool paren, int* close)
{
    operandCount = operatorCount = 0;
    int p = start + (paren ? 1 : 0);
    bool neg = false;
    for (;;) {
        while (IsBlank((uint8_t)buf[p])) ++p;
        uint8_t c = (uint8_t)buf[p];
        if (c == 0 || c == ')') break;
        // Of operands written without an operator between them only the first counts.
        bool drop = operandCount > operatorCount;
        bool operand = true;
        if (c == '"') {
            char* q = strchr(buf + p + 1, '"');
            if (!q) return Fail(1);
            size_t n = (size_t)(q - (buf + p + 1));
            if (!drop) NewOperand(K_STRING, neg).text.assign(buf + p + 1, n);
            memset(buf + p + 1, ' ', n);   // later searches must not see the literal's characters
            p = (int)(q - buf) + 1;
        } else if (c == 0xFE) {
            uint8_t b1 = (uint8_t)buf[p + 1];
            uint8_t b2 = b1 ? (uint8_t)buf[p + 2] : 0;
            int index = ((b1 & 0x1F) * 16) + (b2 - 0xE0);
            if (!b1 || b2 < 0xE0 || index >= CONSTANT_COUNT) return Fail(1);
            if (!drop) NewOperand(K_NUMBER, neg).num = (double)k.constants[index];
            p += 3;
        } else if (IsLetter(c) || c == 0xFF || c == '#') {
            if (!ReadIdentifier(&p, drop, neg)) return false;
        } else if (c == '@') {
            if (!ReadNamedConstant(&p, drop, neg)) return false;
        } else if (c >= M_NUMBER && c <= M_NAME) {
            if (!ReadSlot(&p, drop, neg)) return false;
        } else if (c == M_EMPTY) {
            p += buf[p + 1] ? 2 : 1;
            operand = false;
        } else if (IsPunct(c) && operandCount > operatorCount) {
            uint8_t op = c, next = (uint8_t)buf[p + 1];
            int width = 1;
            if (c == '<' && next == '=') op = OP_LE, width = 2;
            else if (c == '<' && next == '>') op = OP_NE, width = 2;
            else if (c == '>' && next == '=') op = OP_GE, width = 2;
            else if (c == '|' && next == '|') op = OP_XOR, width = 2;
            if (op != ',' && Precedence(op) == 0) return Fail(1);   // no operator of the language
            if (operatorCount == MAX_OPERATORS) return Fail(16);
            opers[operatorCount++] = op;
            p += width;
            operand = false;
        } else if (c == '-') {
            neg = !neg;
            ++p;
            operand = false;
        } else if (IsDigit(c) || c == '&' || c == '.') {
            if (!ReadNumber(&p, drop, neg)) return false;
        } else {
            ++p;   // stray byte where an operand is expected
            operand = false;
        }
        if (operand) neg = false;
    }
    *close = p;
    if (operatorCount > 0 && operatorCount >= operandCount) return Fail(1);   // operator without operand
    return true;
}

bool Evaluator::ReadNumber(int* pp, bool drop, bool neg)
{
    const char* p = buf + *pp;
    const char* end;
    double v;
    if (*p == '&') {
        // &H and &X hexadecimal, &B binary, &O octal; a digit after "&" starts hexadecimal digits.
        uint8_t letter = Upper((uint8_t)p[1]);
        int base = 16;
        const char* digits = p + 2;
        if (letter == 'B') base = 2;
        else if (letter == 'O') base = 8;
        else if (letter != 'H' && letter != 'X') digits = p + 1;
        uint32_t u;
        bool any;
        end = ParseUnsigned(digits, base, &u, &any);
        if (!any) return Fail(1);
        v = (double)u;
    } else {
        const char* q = p;
        while (IsDigit((uint8_t)*q)) ++q;
        if (*q == '.' || *p == '.') {
            char* e;
            v = strtod(p, &e);
            if (e == p) return Fail(1);   // a lone "."
            end = e;
        } else if (p[0] == '0' && p[1] == 'x') {
            uint32_t u;
            bool any;
            end = ParseUnsigned(p + 2, 16, &u, &any);
            if (!any) end = p + 1;
            v = (double)u;
        } else {
            uint64_t u = 0;
            for (const char* d = p; d < q; ++d) u = u * 10u + (uint64_t)(*d - '0');
            v = (double)(int64_t)u;
            end = q;
        }
    }
    if (!drop) NewOperand(K_NUMBER, neg).num = v;
    *pp = (int)(end - buf);
    return true;
}

bool Evaluator::ReadNamedConstant(int* pp, bool drop, bool neg)
{
    int s = *pp + 1, q = s;
    for (uint8_t c; (c = (uint8_t)buf[q]) != 0; ++q)
        if (IsSpace(c) || IsControl(c) || (IsPunct(c) && c != '_')) break;
    *pp = q;
    if (drop) return true;
    size_t n = (size_t)(q - s);
    for (const auto& entry : k.namedConstants) {
        if (entry.first.size() != n) continue;
        size_t i = 0;
        while (i < n && (uint8_t)entry.first[i] == Upper((uint8_t)buf[s + i])) ++i;
        if (i == n) {
            NewOperand(K_NUMBER, neg).num = (double)(uint32_t)entry.second;
            return true;
        }
    }
    return Fail(24);
}

bool Evaluator::ReadSlot(int* pp, bool drop, bool neg)
{
    uint8_t marker = (uint8_t)buf[*pp], n = (uint8_t)buf[*pp + 1];
    int used = marker == M_NUMBER ? numCount : strCount;
    if (n < 1 || n > used) return Fail(1);
    *pp += 2;
    if (drop) return true;
    if (marker == M_NUMBER) {
        NewOperand(K_NUMBER, neg).num = nums[n - 1];
        return true;
    }
    // Each slot reference is read exactly once, so its text can be taken over.
    Operand& o = NewOperand(marker == M_STRING ? K_STRING : K_NAME, neg);
    o.text.swap(strs[n - 1]);
    if (marker == M_NAME) {
        o.nameInText = true;
        if (!o.text.empty() && o.text[0] == '-') {
            o.text.erase(0, 1);
            o.neg = !o.neg;
        }
    }
    return true;
}

// The text of slot reference (marker, slot) as a call argument or index text.
bool Evaluator::SlotText(uint8_t marker, uint8_t slot, const char** text, size_t* len, char* numBuf,
                         size_t numSize)
{
    int used = marker == M_NUMBER ? numCount : strCount;
    if (slot < 1 || slot > used) return Fail(1);
    if (marker == M_NUMBER) {
        int n = FormatNumberArg(numBuf, numSize, nums[slot - 1]);
        *text = numBuf;
        *len = n < 0 ? 0 : ((size_t)n < numSize ? (size_t)n : numSize - 1);
    } else {
        *text = strs[slot - 1].data();
        *len = strs[slot - 1].size();
    }
    return true;
}

bool Evaluator::ReadIdentifier(int* pp, bool drop, bool neg)
{
    int s = *pp, q = s, depth = 0;
    bool slotInBrackets = false;
    for (;; ++q) {
        uint8_t c = (uint8_t)buf[q];
        if (c == 0 || c == ')') break;
        if (c == '[') ++depth;
        else if (c == ']' && depth > 0) --depth;
        else if (depth > 0 && IsMarker(c)) slotInBrackets = true;
        else if (depth == 0 && q > s && EndsIdentifier(c)) break;
    }
    if (IsMarker((uint8_t)buf[q])) {   // the name stands before a parenthesised list: a call
        if (drop) {
            while (IsMarker((uint8_t)buf[q]) && buf[q + 1]) q += 2;
            *pp = q;
            return true;
        }
        return CallCommand(s, q, pp, neg);
    }
    *pp = q;
    if (drop) return true;
    Operand& o = NewOperand(K_NAME, neg);
    if (!slotInBrackets) {
        o.nameOff = s;
        o.nameLen = q - s;
        return true;
    }
    // Groups inside an index were reduced to slot references: put their values back
    // as parenthesised text, so that the index can be evaluated on its own.
    o.nameInText = true;
    char numBuf[400];
    depth = 0;
    for (int i = s; i < q;) {
        uint8_t c = (uint8_t)buf[i];
        if (c == '[') ++depth;
        else if (c == ']' && depth > 0) --depth;
        if (depth > 0 && IsMarker(c)) {
            o.text += '(';
            bool first = true;
            while (i < q && IsMarker((uint8_t)buf[i])) {
                uint8_t m = (uint8_t)buf[i], n = (uint8_t)buf[i + 1];
                i += n ? 2 : 1;
                if (m == M_EMPTY) continue;
                const char* t;
                size_t len;
                if (!SlotText(m, n, &t, &len, numBuf, sizeof numBuf)) return false;
                if (!first) o.text += ',';
                first = false;
                if (m == M_STRING) o.text += '"';
                o.text.append(t, len);
                if (m == M_STRING) o.text += '"';
            }
            o.text += ')';
            continue;
        }
        o.text += (char)c;
        ++i;
    }
    return true;
}

StmtRec* Evaluator::Record()
{
    if (!rec) rec = k.NewStatementRecord(MAX_ARGS);
    if (!rec) {
        Fail(2);
        return nullptr;
    }
    for (int i = 0; i < MAX_ARGS; ++i) {
        rec->args[i] = rec->block + ARG_TEXT_SIZE * i;
        rec->args[i][0] = 0;
        rec->kinds[i] = KIND_NONE;
    }
    rec->argc = 0;
    rec->command = 0;
    rec->text = rec->args[0];
    rec->resultType = NO_TYPE;
    rec->fileOutput = 0;
    return rec;
}

// Argument i = pre + body + post; a text too long for its buffer gets one of its own.
void Evaluator::SetArg(StmtRec* r, int i, const char* pre, const char* body, size_t len, const char* post,
                       int kind)
{
    size_t a = strlen(pre), b = strlen(post), total = a + len + b;
    char* dest = r->args[i];
    if (total >= (size_t)ARG_TEXT_SIZE) {
        if (longArgs.size() < (size_t)MAX_ARGS) longArgs.resize(MAX_ARGS);
        longArgs[i].assign(total, ' ');
        dest = &longArgs[i][0];
        r->args[i] = dest;
    }
    memcpy(dest, pre, a);
    memcpy(dest + a, body, len);
    memcpy(dest + a + len, post, b);
    dest[total] = 0;
    r->kinds[i] = kind;
}

bool Evaluator::CallCommand(int s, int end, int* next, bool neg)
{
    StmtRec* r = Record();
    if (!r) return false;
    int a = 0;
    if ((uint8_t)buf[s] == 0xFF) {
        uint8_t hi = (uint8_t)buf[s + 1], lo = hi ? (uint8_t)buf[s + 2] : 0;
        if (end - s < 3 || hi < 0xE0 || lo < 0xE0) return Fail(1);
        r->command = (uint16_t)((hi - 0xE0) * 16 + (lo - 0xE0));
        r->text = buf + s;
    } else {
        char saved = buf[end];
        buf[end] = 0;
        VarRec* label = k.LookupVariable(buf + s, nullptr, false);
        buf[end] = saved;
        if (!label || label->type != T_LABEL_0) return Fail(1);
        r->command = label->external ? 120 : 44;
        int e = end;
        while (e > s && IsBlank((uint8_t)buf[e - 1])) --e;
        SetArg(r, a++, "", buf + s, (size_t)(e - s), "", KIND_NAME);
        r->text = r->args[0];
    }
    char numBuf[400];
    int q = end;
    while (IsMarker((uint8_t)buf[q])) {
        uint8_t m = (uint8_t)buf[q], n = (uint8_t)buf[q + 1];
        if (!n) return Fail(1);
        q += 2;
        if (m == M_EMPTY) continue;
        if (a >= MAX_ARGS) return Fail(32);
        const char* t;
        size_t len;
        if (!SlotText(m, n, &t, &len, numBuf, sizeof numBuf)) return false;
        if (m == M_NUMBER) SetArg(r, a++, "", t, len, "", KIND_NUMBER);
        else if (m == M_STRING) SetArg(r, a++, "\"", t, len, "\"", KIND_STRING);
        else SetArg(r, a++, "", t, len, "", (len && t[0] == '-') ? KIND_EXPRESSION : KIND_NAME);
    }
    r->argc = (uint16_t)a;
    *next = q;
    if (k.errorCode) return false;
    Operand& o = NewOperand(K_NUMBER, neg);
    return RunRecord(r, o);
}

// Runs the prepared record and takes its value into o.
bool Evaluator::RunRecord(StmtRec* r, Operand& o)
{
    StmtRec* done = k.Execute(r);
    if (k.errorCode) return false;
    if (!done) {
        // The command ended the program (as the end command does): stop after this statement.
        k.currentLine = k.lineCount;
        return false;
    }
    TakeResult(r, o);
    return true;
}

void Evaluator::TakeResult(StmtRec* r, Operand& o)
{
    o.kind = K_NUMBER;
    o.num = 0.0;   // a command that hands back no value counts as 0
    VarRec* v = nullptr;
    switch (r->resultType) {
    case T_STRING: v = k.sysString; break;
    case T_INT: case T_UINT: v = k.sysInt; break;
    case T_FLOAT: v = k.sysFloat; break;
    case T_DOUBLE: v = k.sysDouble; break;
    case T_POINTER: v = k.sysPointer; break;
    case T_INT64: case T_UINT64: v = k.sysInt64; break;
    default: return;
    }
    const char* d = v ? Kestrin::StorageStart(v) : nullptr;
    if (!d) return;
    switch (r->resultType) {
    case T_STRING: {
        size_t cap = Kestrin::StorageBytes(v);
        o.kind = K_STRING;
        o.text.assign(d, strnlen(d, cap ? cap : 1));
        break;
    }
    case T_INT: case T_POINTER: {
        int32_t x;
        memcpy(&x, d, 4);
        o.num = x;
        break;
    }
    case T_UINT: {
        uint32_t x;
        memcpy(&x, d, 4);
        o.num = x;
        break;
    }
    case T_FLOAT: {
        float x;
        memcpy(&x, d, 4);
        o.num = x;
        break;
    }
    case T_DOUBLE:
        memcpy(&o.num, d, 8);
        break;
    default: {
        int64_t x;
        memcpy(&x, d, 8);
        o.num = (double)x;
        break;
    }
    }
}

// A SUB or external function named without an argument list: called with its name only.
bool Evaluator::CallLabel(VarRec* label, const char* name, size_t len, Operand& o)
{
    StmtRec* r = Record();
    if (!r) return false;
    size_t n = 0;
    while (n < len && !IsBlank((uint8_t)name[n])) ++n;
    r->command = label->external ? 120 : 44;
    SetArg(r, 0, "", name, n, "", KIND_NAME);
    r->text = r->args[0];
    r->argc = 1;
    return RunRecord(r, o);
}

// The value of variable v as an operand.
bool Evaluator::ValueOf(VarRec* v, const char* name, size_t len, Operand& o)
{
    if (v->type == T_LABEL_0) return CallLabel(v, name, len, o);
    o.kind = K_NUMBER;
    o.num = 0.0;
    const char* d = v->data;
    if (!d) return true;
    const char* start = Kestrin::StorageStart(v);
    size_t bytes = Kestrin::StorageBytes(v);
    size_t avail = (start && d >= start && d < start + bytes) ? (size_t)(start + bytes - d) : 0;
    if (v->type == T_STRING) {
        o.kind = K_STRING;
        o.text.assign(d, avail ? strnlen(d, avail) : 0);
        return true;
    }
    int need = Kestrin::ElementSize(v->type);
    if (need == 0) need = 4;
    // Built-in records point at interpreter storage of their own (DECIMAL_PREC: an int).
    if (!v->builtin && avail < (size_t)need) return true;
    switch (v->type) {
    case T_CHAR: o.num = (int8_t)d[0]; break;
    case T_INT: { int32_t x; memcpy(&x, d, 4); o.num = x; break; }
    case T_FLOAT: { float x; memcpy(&x, d, 4); o.num = x; break; }
    case T_WORD: { uint16_t x; memcpy(&x, d, 2); o.num = x; break; }
    case T_DOUBLE: memcpy(&o.num, d, 8); break;
    case T_INT64: case T_UINT64: { int64_t x; memcpy(&x, d, 8); o.num = (double)x; break; }
    default: { uint32_t x; memcpy(&x, d, 4); o.num = x; break; }
    }
    return true;
}

bool Evaluator::Resolve(Operand& o)
{
    if (o.kind != K_NAME) return true;
    char* name;
    size_t len;
    char saved = 0;
    if (o.nameInText) {
        name = &o.text[0];
        len = o.text.size();
    } else {
        name = buf + o.nameOff;
        len = (size_t)o.nameLen;
        saved = name[len];
        name[len] = 0;
    }
    VarRec* v = k.LookupVariable(name, nullptr, true);
    if (!o.nameInText) name[len] = saved;
    if (!v) return Fail(10);
    // A label's name is copied into the call record before o is overwritten.
    bool neg = o.neg;
    bool ok = ValueOf(v, name, len, o);
    o.neg = neg;
    return ok;
}

bool Evaluator::ComputeGroup()
{
    entryCount = 0;
    if (operandCount == 0) return true;
    for (int i = 0; i < operatorCount; ++i) {
        if (opers[i] != ',') {
            if (!Resolve(operands[i]) || !Resolve(operands[i + 1])) return false;
        }
        Operand& o = operands[i];
        if (o.neg && o.kind == K_NUMBER) o.num = -o.num, o.neg = false;
    }
    Operand& last = operands[operandCount - 1];
    if (last.neg && last.kind == K_NUMBER) last.num = -last.num, last.neg = false;

    int i = 0;
    for (;;) {
        int start = i;
        if (!Parse(1, i)) return false;
        entries[entryCount++] = start;
        if (i >= operatorCount) break;
        ++i;   // the operator here is ","
    }
    return true;
}

// Precedence climbing: combines operand i with the operators of level minLevel and
// above that follow it, each left-associative; the value lands in operand i. On
// return i is the index of the last operand consumed.
bool Evaluator::Parse(int minLevel, int& i)
{
    int left = i;
    while (i < operatorCount) {
        uint8_t op = opers[i];
        int level = Precedence(op);
        if (level == 0 || level < minLevel) break;
        int right = ++i;
        if (level < 5 && !Parse(level + 1, i)) return false;
        if (!Apply(op, operands[left], operands[right])) return false;
    }
    return true;
}

bool Evaluator::Apply(uint8_t op, Operand& l, Operand& r)
{
    if (l.kind == K_NAME || r.kind == K_NAME) return Fail(1);
    bool isCompare = Precedence(op) == 2;
    if (l.kind == K_STRING || r.kind == K_STRING) {
        if (l.kind != K_STRING || r.kind != K_STRING) return Fail(1);
        if (op == '+') {
            size_t room = l.text.size() < MAX_STRING ? MAX_STRING - l.text.size() : 0;
            l.text.append(r.text, 0, room);
            return true;
        }
        if (!isCompare) return Fail(1);
        int c = l.text.compare(r.text);
        bool t;
        switch (op) {
        case '=': t = c == 0; break;
        case '<': t = c < 0; break;
        case '>': t = c > 0; break;
        case OP_LE: t = c <= 0; break;
        case OP_GE: t = c >= 0; break;
        default: t = c != 0; break;   // "<>" and "~"
        }
        l.kind = K_NUMBER;
        l.num = t ? 1.0 : 0.0;
        l.text.clear();
        return true;
    }
    double a = l.num, b = r.num;
    double v = 0.0;
    switch (op) {
    case '&': v = (double)(Trunc64(a) & Trunc64(b)); break;
    case '|': v = (double)(Trunc64(a) | Trunc64(b)); break;
    case '=': v = a == b; break;
    case '<': v = a < b; break;
    case '>': v = a > b; break;
    case OP_LE: v = a <= b; break;
    case OP_GE: v = a >= b; break;
    case OP_NE: case '~': v = a != b; break;
    case '+': v = a + b; break;
    case '-': v = a - b; break;
    case '*': v = a * b; break;
    case '/':
        if (b == 0.0) Fail(8);
        else v = a / b;
        break;
    case '%': {
        int64_t x = Trunc64(a), y = Trunc64(b);
        if (y == 0) Fail(8);
        else v = y == -1 ? 0.0 : (double)(x % y);
        break;
    }
    case OP_XOR: v = (double)(int32_t)((uint32_t)Trunc64(a) ^ (uint32_t)Trunc64(b)); break;
    case '^': v = pow(a, b); break;
    default: return Fail(1);
    }
    l.num = v;
    return true;
}

bool Evaluator::StoreEntries(int open, int close)
{
    int w = open;
    for (int e = 0; e < entryCount; ++e) {
        Operand& o = operands[entries[e]];
        uint8_t marker, slot;
        if (o.kind == K_NUMBER) {
            if (numCount >= NUMBER_SLOTS) return Fail(32);
            nums[numCount++] = o.num;
            marker = M_NUMBER;
            slot = (uint8_t)numCount;
        } else {
            if (strCount >= STRING_SLOTS) return Fail(32);
            std::string& t = strs[strCount++];
            if (o.kind == K_STRING) {
                t.swap(o.text);
                marker = M_STRING;
            } else {
                t.clear();
                if (o.neg) t += '-';
                if (o.nameInText) t += o.text;
                else t.append(buf + o.nameOff, (size_t)o.nameLen);
                marker = M_NAME;
            }
            slot = (uint8_t)strCount;
        }
        lastMarker = marker;
        lastSlot = slot;
        if (open >= 0) {
            if (w + 1 > close) return Fail(1);   // never beyond the group's ")"
            buf[w++] = (char)marker;
            buf[w++] = (char)slot;
        }
    }
    if (open < 0) return true;
    if (entryCount == 0) {
        buf[w++] = (char)M_EMPTY;
        buf[w++] = 1;
    }
    for (; w <= close; ++w) buf[w] = ' ';
    return true;
}

void Evaluator::SetResultString(const char* p, size_t n)
{
    VarRec* v = k.sysString;
    char* d = v ? Kestrin::StorageStart(v) : nullptr;
    size_t bytes = v ? Kestrin::StorageBytes(v) : 0;
    if (!d || bytes == 0) {
        Fail(2);
        return;
    }
    size_t cap = bytes - 1 < MAX_STRING ? bytes - 1 : MAX_STRING;
    if (n > cap) n = cap;
    memmove(d, p, n);
    d[n] = 0;
    v->data = d;
    isString = true;
}

double Evaluator::Finish()
{
    if (entryCount == 0) {   // nothing but blanks or empty parentheses
        Fail(1);
        return 0.0;
    }
    if (lastMarker == M_NUMBER) return nums[lastSlot - 1];
    std::string& t = strs[lastSlot - 1];
    if (lastMarker == M_STRING) {
        SetResultString(t.data(), t.size());
        return 0.0;
    }
    bool neg = !t.empty() && t[0] == '-';
    if (neg) t.erase(0, 1);
    VarRec* v = k.LookupVariable(&t[0], nullptr, true);
    if (!v) {
        Fail(10);
        return 0.0;
    }
    Operand& o = operands[0];
    o.text.clear();
    if (!ValueOf(v, t.data(), t.size(), o)) return 0.0;
    if (o.kind == K_STRING) {
        SetResultString(o.text.data(), o.text.size());
        return 0.0;
    }
    return neg ? -o.num : o.num;
}

}

double Kestrin::Evaluate(const char* text)
{
    stringResult = 0;
    if (nestingDepth >= MAX_NESTING) {
        if (!errorCode) errorCode = 34;
        return 0.0;
    }
    ++nestingDepth;
    if (evaluatorDepth == evaluators.size()) {
        kexpr::Evaluator* fresh = new (std::nothrow) kexpr::Evaluator(*this);
        if (!fresh) {
            --nestingDepth;
            errorCode = 2;
            return 0.0;
        }
        evaluators.push_back(fresh);
    }
    kexpr::Evaluator& ev = *evaluators[evaluatorDepth++];
    ev.Reset();
    double v = ev.Run(text);
    stringResult = ev.IsString() ? 1 : 0;
    ev.Done();
    --evaluatorDepth;
    --nestingDepth;
    if (errorCode) {
        stringResult = 0;
        return 0.0;
    }
    return v;
}

void Kestrin::ReleaseEvaluators()
{
    for (kexpr::Evaluator* ev : evaluators) delete ev;
    evaluators.clear();
    evaluatorDepth = 0;
}

StmtRec* Kestrin::CmdSetConstant(StmtRec* s)
{
    if (s->argc != 2) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec name, value;
    if (!FetchArgument(&name, s, 0, T_STRING)) return nullptr;
    std::string key = name.text ? name.text : "";
    if (!FetchArgument(&value, s, 1, WANT_NUMBER)) return nullptr;
    for (char& c : key) c = (char)Upper((uint8_t)c);
    for (auto& entry : namedConstants) {
        if (entry.first == key) {
            entry.second = value.i;
            return s;
        }
    }
    namedConstants.emplace_back(key, value.i);
    return s;
}
