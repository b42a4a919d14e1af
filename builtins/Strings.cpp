// String functions: substrings, concatenation, sizes, character codes, repetition,
// trimming, search, case conversion and the in-place overwrite.
#include "interp/Kestrin.h"
#include <windows.h>
#include <io.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const size_t CONCAT_BUFFER_SIZE = 32767;   // concatenation work buffer, with its NUL
const size_t UNBOUNDED = SIZE_MAX;

inline bool Within(const char* p, const char* start, size_t size)
{
    uintptr_t a = (uintptr_t)p, b = (uintptr_t)start;
    return start && a >= b && a - b < size;
}

// Bytes of a variable's storage from p to its end; UNBOUNDED when the variable's
// storage is not known to hold p.
size_t StorageRest(const VarRec* var, const char* p)
{
    if (!var || !p) return UNBOUNDED;
    if (var->type == T_STRING && var->base && var->count && Within(p, var->base, var->count))
        return var->count - (size_t)(p - var->base);
    if (var->type == T_MEMORY && var->packing > 0 && var->data) {
        uint32_t slot;
        memcpy(&slot, var->data, sizeof slot);
        const char* block = (const char*)SlotToPtr(slot);
        if (Within(p, block, (size_t)var->packing)) return (size_t)var->packing - (size_t)(p - block);
    }
    return UNBOUNDED;
}

// A fetched text with the number of bytes before its NUL, never reading past
// the storage it lives in (a full string or a memory block need not hold a NUL).
struct Text {
    const char* p;
    size_t n;
};

Text TextOf(const Kestrin* k, const ValueRec& v)
{
    Text t = {v.text, 0};
    if (!t.p) return t;
    size_t bound = StorageRest(v.var, t.p);
    if (bound == UNBOUNDED && !v.var) bound = StorageRest(k->sysString, t.p);
    t.n = strnlen(t.p, bound);
    return t;
}

// Private copy of a fetched text, so that later fetches (which may evaluate
// into SYSTEM_STRING0 or run subroutines) cannot change it.
class TextCopy {
public:
    TextCopy() : p_(nullptr), n_(0) {}
    ~TextCopy() { free(p_); }
    TextCopy(const TextCopy&) = delete;
    TextCopy& operator=(const TextCopy&) = delete;

    bool Take(Kestrin* k, const ValueRec& v)
    {
        Text t = TextOf(k, v);
        free(p_);
        p_ = (char*)malloc(t.n + 1);
        n_ = 0;
        if (!p_) {
            k->errorCode = 2;
            return false;
        }
        if (t.n) memcpy(p_, t.p, t.n);
        p_[t.n] = 0;
        n_ = t.n;
        return true;
    }
    const char* p() const { return p_; }
    size_t n() const { return n_; }

private:
    char* p_;
    size_t n_;
};

// SYSTEM_STRING0's storage, its current element reset to the start as a plain
// lookup would; room is the number of bytes it holds, the NUL included.
char* ResultBuffer(Kestrin* k, size_t* room)
{
    VarRec* r = k->sysString;
    if (!r || !r->data) {
        k->errorCode = 2;
        return nullptr;
    }
    if (r->base) r->data = r->base;
    if (r->elemLen == 1 && r->dims[0] > 0) r->capacity = r->dims[0];
    size_t n = r->base && r->count ? (size_t)r->count : UNBOUNDED;
    if (r->capacity > 0 && (size_t)r->capacity < n) n = (size_t)r->capacity;
    if (n == UNBOUNDED || n == 0) {
        k->errorCode = 2;
        return nullptr;
    }
    *room = n;
    return r->data;
}

StmtRec* StringResult(Kestrin* k, StmtRec* s, const char* src, size_t n)
{
    size_t room;
    char* out = ResultBuffer(k, &room);
    if (!out) return nullptr;
    if (n > room - 1) n = room - 1;
    if (n) memmove(out, src, n);   // src may lie in SYSTEM_STRING0 itself
    out[n] = 0;
    s->resultType = T_STRING;
    return s;
}

StmtRec* RepeatResult(Kestrin* k, StmtRec* s, unsigned char c, int32_t count)
{
    size_t room;
    char* out = ResultBuffer(k, &room);
    if (!out) return nullptr;
    size_t n = count > 0 ? (size_t)count : 0;
    if (n > room - 1) n = room - 1;
    memset(out, c, n);
    out[n] = 0;
    s->resultType = T_STRING;
    return s;
}

StmtRec* IntResult(Kestrin* k, StmtRec* s, int32_t value)
{
    if (!k->sysInt || !k->sysInt->data) {
        k->errorCode = 2;
        return nullptr;
    }
    memcpy(k->sysInt->data, &value, sizeof value);
    s->resultType = T_INT;
    return s;
}

inline bool ArgCount(Kestrin* k, const StmtRec* s, int low, int high)
{
    if (s->argc >= low && s->argc <= high) return true;
    k->errorCode = 56;
    return false;
}

// The text and the part length of a LEFT or RIGHT command: n is the count
// argument, at most the text's length; a negative count is error 46.
bool TextAndLength(Kestrin* k, StmtRec* s, TextCopy* text, size_t* n)
{
    if (!ArgCount(k, s, 2, 2)) return false;
    ValueRec v;
    if (!k->FetchArgument(&v, s, 0, T_STRING) || !text->Take(k, v)) return false;
    if (!k->FetchArgument(&v, s, 1, WANT_NUMBER)) return false;
    if (v.i < 0) {
        k->errorCode = 46;
        return false;
    }
    *n = (size_t)v.i < text->n() ? (size_t)v.i : text->n();
    return true;
}

// The one text argument as the string result, its ASCII letters first..first+25
// ('a'..'z' or 'A'..'Z') replaced by the letters of the same place from to.
StmtRec* CaseMappedResult(Kestrin* k, StmtRec* s, char first, char to)
{
    if (!ArgCount(k, s, 1, 1)) return nullptr;
    ValueRec v;
    if (!k->FetchArgument(&v, s, 0, T_STRING)) return nullptr;
    Text t = TextOf(k, v);
    if (!StringResult(k, s, t.p, t.n)) return nullptr;
    const char last = (char)(first + 25);
    for (char* p = k->sysString->data; *p; ++p)
        if (*p >= first && *p <= last) *p = (char)(*p - first + to);
    return s;
}

// Length of the open file behind a FILE or BFILE slot; -1 when it is not known.
int32_t StreamLength(FILE* fp)
{
    int fd = _fileno(fp);
    if (fd < 0) return -1;
    // Bring buffered output to the file first. Re-setting the position flushes
    // without moving; only done on disk files, where a seek cannot lose input.
    HANDLE h = (HANDLE)_get_osfhandle(fd);
    if (h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_DISK) {
        fpos_t pos;
        if (fgetpos(fp, &pos) == 0) fsetpos(fp, &pos);
    }
    long long len = _filelengthi64(fd);
    if (len < 0) return -1;
    return len > INT32_MAX ? INT32_MAX : (int32_t)len;
}

inline bool IsTrailingSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}

StmtRec* Kestrin::CmdSubstring(StmtRec* s)
{
    if (!ArgCount(this, s, 2, 3)) return nullptr;
    ValueRec v;
    TextCopy text;
    if (!FetchArgument(&v, s, 0, T_STRING) || !text.Take(this, v)) return nullptr;
    if (!FetchArgument(&v, s, 1, WANT_NUMBER)) return nullptr;
    int64_t start = (int64_t)v.i - 1;
    if (start < 0) {
        errorCode = 46;
        return nullptr;
    }
    int64_t length = (int64_t)text.n();
    if (s->argc == 3) {
        if (!FetchArgument(&v, s, 2, WANT_NUMBER)) return nullptr;
        length = v.i;
        if (length < 0) {
            errorCode = 46;
            return nullptr;
        }
    }
    if ((uint64_t)start > text.n()) start = (int64_t)text.n();
    size_t n = text.n() - (size_t)start;
    if ((uint64_t)length < n) n = (size_t)length;
    return StringResult(this, s, text.p() + start, n);
}

StmtRec* Kestrin::CmdLeftPart(StmtRec* s)
{
    TextCopy text;
    size_t n;
    if (!TextAndLength(this, s, &text, &n)) return nullptr;
    return StringResult(this, s, text.p(), n);
}

StmtRec* Kestrin::CmdRightPart(StmtRec* s)
{
    TextCopy text;
    size_t n;
    if (!TextAndLength(this, s, &text, &n)) return nullptr;
    // A part longer than SYSTEM_STRING0 holds keeps its end: still the right part.
    size_t room;
    if (!ResultBuffer(this, &room)) return nullptr;
    if (n > room - 1) n = room - 1;
    return StringResult(this, s, text.p() + (text.n() - n), n);
}

StmtRec* Kestrin::CmdConcat(StmtRec* s)
{
    if (s->argc < 1) {
        errorCode = 56;
        return nullptr;
    }
    // Each text is appended right after its fetch, before the next argument can
    // overwrite SYSTEM_STRING0; whatever does not fit the buffer is cut off.
    char work[CONCAT_BUFFER_SIZE];
    size_t used = 0;
    for (int i = 0; i < s->argc; ++i) {
        ValueRec v;
        if (!FetchArgument(&v, s, i, T_STRING)) return nullptr;
        Text t = TextOf(this, v);
        size_t n = t.n;
        if (n > CONCAT_BUFFER_SIZE - 1 - used) n = CONCAT_BUFFER_SIZE - 1 - used;
        if (n) memcpy(work + used, t.p, n);
        used += n;
    }
    return StringResult(this, s, work, used);
}

StmtRec* Kestrin::CmdSizeOf(StmtRec* s)
{
    if (!ArgCount(this, s, 1, 1)) return nullptr;
    ValueRec v;
    if (!FetchArgument(&v, s, 0, WANT_ANY)) return nullptr;
    switch (v.type) {
    case T_STRING:
        return IntResult(this, s, (int32_t)TextOf(this, v).n);
    case T_MEMORY:
        return IntResult(this, s, v.var ? v.var->packing : 0);
    case T_FILE:
    case T_BFILE: {
        FILE* fp = StreamOfSlot(v.handle);
        if (!fp) {
            errorCode = 52;
            return nullptr;
        }
        return IntResult(this, s, StreamLength(fp));
    }
    case T_USER_0: {
        VarRec* header = (VarRec*)SlotToPtr(v.handle);
        return IntResult(this, s, header ? StructSize(header) : 0);
    }
    default: {
        VarRec* var = v.var ? v.var : LookupVariable(s->args[0], nullptr, false);
        if (!var) return nullptr;
        uint64_t size = (uint64_t)ElementSize(var->type) * var->count;
        return IntResult(this, s, size > INT32_MAX ? INT32_MAX : (int32_t)size);
    }
    }
}

StmtRec* Kestrin::CmdCharCode(StmtRec* s)
{
    if (!ArgCount(this, s, 1, 1)) return nullptr;
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_STRING)) return nullptr;
    Text t = TextOf(this, v);
    return IntResult(this, s, t.n ? (unsigned char)t.p[0] : 0);
}

StmtRec* Kestrin::CmdCharFromCode(StmtRec* s)
{
    if (!ArgCount(this, s, 1, 1)) return nullptr;
    ValueRec v;
    if (!FetchArgument(&v, s, 0, WANT_NUMBER)) return nullptr;
    char c = (char)(v.i & 0xFF);
    return StringResult(this, s, &c, c ? 1 : 0);
}

StmtRec* Kestrin::CmdRepeat(StmtRec* s)
{
    if (!ArgCount(this, s, 2, 2)) return nullptr;
    ValueRec v;
    if (!FetchArgument(&v, s, 0, WANT_NUMBER)) return nullptr;
    int32_t count = v.i;
    if (!FetchArgument(&v, s, 1, WANT_ANY)) return nullptr;
    unsigned char c;
    switch (v.type) {
    case T_STRING: {
        Text t = TextOf(this, v);
        c = t.n ? (unsigned char)t.p[0] : 0;
        break;
    }
    case T_CHAR:
    case T_INT:
    case T_FLOAT:
    case T_DOUBLE:
        c = (unsigned char)(v.i & 0xFF);
        break;
    default:
        errorCode = 14;
        return nullptr;
    }
    return RepeatResult(this, s, c, count);
}

StmtRec* Kestrin::CmdSpaces(StmtRec* s)
{
    if (!ArgCount(this, s, 1, 1)) return nullptr;
    ValueRec v;
    if (!FetchArgument(&v, s, 0, WANT_NUMBER)) return nullptr;
    return RepeatResult(this, s, ' ', v.i);
}

StmtRec* Kestrin::CmdTrimLeft(StmtRec* s)
{
    if (!ArgCount(this, s, 1, 1)) return nullptr;
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_STRING)) return nullptr;
    Text t = TextOf(this, v);
    size_t i = 0;
    while (i < t.n && (t.p[i] == ' ' || t.p[i] == '\t')) ++i;
    return StringResult(this, s, t.p + i, t.n - i);
}

StmtRec* Kestrin::CmdTrimRight(StmtRec* s)
{
    if (!ArgCount(this, s, 1, 1)) return nullptr;
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_STRING)) return nullptr;
    Text t = TextOf(this, v);
    size_t n = t.n;
    while (n > 0 && IsTrailingSpace(t.p[n - 1])) --n;
    return StringResult(this, s, t.p, n);
}

StmtRec* Kestrin::CmdFindText(StmtRec* s)
{
    if (!ArgCount(this, s, 2, 3)) return nullptr;
    ValueRec v;
    int first = 0;
    int64_t start = 0;
    if (s->argc == 3) {
        if (!FetchArgument(&v, s, 0, WANT_NUMBER)) return nullptr;
        start = v.i < 1 ? 0 : (int64_t)v.i - 1;
        first = 1;
    }
    TextCopy text, pattern;
    if (!FetchArgument(&v, s, first, T_STRING) || !text.Take(this, v)) return nullptr;
    if (!FetchArgument(&v, s, first + 1, T_STRING) || !pattern.Take(this, v)) return nullptr;
    if ((uint64_t)start >= text.n()) return IntResult(this, s, 0);
    size_t m = pattern.n();
    if (m == 0) return IntResult(this, s, (int32_t)(start + 1));
    if (m > text.n() - (size_t)start) return IntResult(this, s, 0);
    const char* p = text.p() + start;
    const char* last = text.p() + text.n() - m;   // last place the pattern can start
    while (p <= last) {
        p = (const char*)memchr(p, pattern.p()[0], (size_t)(last - p) + 1);
        if (!p) break;
        if (memcmp(p, pattern.p(), m) == 0) return IntResult(this, s, (int32_t)(p - text.p() + 1));
        ++p;
    }
    return IntResult(this, s, 0);
}

StmtRec* Kestrin::CmdToUpper(StmtRec* s)
{
    return CaseMappedResult(this, s, 'a', 'A');
}

StmtRec* Kestrin::CmdToLower(StmtRec* s)
{
    return CaseMappedResult(this, s, 'A', 'a');
}

StmtRec* Kestrin::CmdOverwriteText(StmtRec* s)
{
    if (!ArgCount(this, s, 4, 4)) return nullptr;
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_STRING)) return nullptr;
    char* target = v.text;
    VarRec* var = v.var;
    if (!FetchArgument(&v, s, 1, WANT_NUMBER)) return nullptr;
    int32_t position = v.i;
    if (!FetchArgument(&v, s, 2, WANT_NUMBER)) return nullptr;
    int32_t count = v.i;
    TextCopy source;
    if (!FetchArgument(&v, s, 3, T_STRING)) return nullptr;
    bool haveSource = v.text != nullptr;
    if (!source.Take(this, v)) return nullptr;

    // A literal or an expression result is a temporary: changing it would be seen
    // by nobody, so only a variable's own storage is written.
    if (!target || !haveSource || !var || position < 1 || count <= 0) return s;
    if (var->constant) {
        errorCode = 58;
        return nullptr;
    }
    size_t bound = StorageRest(var, target);
    if (var->type == T_STRING && var->capacity > 0 && (size_t)var->capacity < bound)
        bound = (size_t)var->capacity;
    size_t length = strnlen(target, bound);
    size_t at = (size_t)position - 1;
    if (at >= length) return s;
    size_t n = length - at;
    if ((size_t)count < n) n = (size_t)count;
    if (source.n() < n) n = source.n();
    memcpy(target + at, source.p(), n);
    return s;
}
