// Variable records: creation, lookup by name, release; scopes and result variables.
#include "interp/Kestrin.h"
#include "values/ValueText.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace kv;

namespace {

const uint64_t MAX_STORAGE = 0x7FFFFFFF;   // larger blocks count as no memory

// Length of the name at p: up to NUL, a blank or a tab, cut to the significant length.
size_t KeyLength(const char* p)
{
    size_t n = 0;
    while (p[n] && !IsBlank(p[n])) ++n;
    return n > (size_t)VAR_NAME_MAX ? (size_t)VAR_NAME_MAX : n;
}

inline bool NameIs(const char* recName, const char* key, size_t len)
{
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = (unsigned char)recName[i];
        if (c == 0 || Lower(c) != Lower((unsigned char)key[i])) return false;
    }
    return recName[len] == 0;
}

VarRec* FindInChain(VarRec* r, const char* key, size_t len)
{
    if (len == 0) return nullptr;
    // Folding bit 5 is a cheap pre-filter (exact for letters); NameIs decides.
    unsigned char first = (unsigned char)(key[0] | 0x20);
    for (; r; r = r->next)
        if ((unsigned char)(r->name[0] | 0x20) == first && NameIs(r->name, key, len)) return r;
    return nullptr;
}

// The "]" that closes a list opened just before p, skipping nested brackets and quotes.
char* FindClose(char* p)
{
    bool inq = false;
    int depth = 0;
    for (; *p; ++p) {
        if (*p == '"') inq = !inq;
        else if (inq) continue;
        else if (*p == '[') ++depth;
        else if (*p == ']') {
            if (depth == 0) return p;
            --depth;
        }
    }
    return nullptr;
}

// End of the list item that starts at p: a comma at top level, or the close.
char* ItemEnd(char* p, char* close)
{
    bool inq = false;
    int brackets = 0, parens = 0;
    for (; p < close; ++p) {
        char c = *p;
        if (c == '"') inq = !inq;
        else if (inq) continue;
        else if (c == '[') ++brackets;
        else if (c == ']') --brackets;
        else if (c == '(') ++parens;
        else if (c == ')') --parens;
        else if (c == ',' && brackets == 0 && parens == 0) return p;
    }
    return close;
}

}

// ---- storage -------------------------------------------------------------------------

char* Kestrin::StorageStart(const VarRec* v)
{
    return v->indexed ? v->base : v->data;
}

size_t Kestrin::StorageBytes(const VarRec* v)
{
    if (!StorageStart(v)) return 0;
    size_t n = (size_t)v->count;
    // A scalar that refers to another variable's element has one element.
    if (n == 0 && !v->indexed) n = 1;
    return n * (size_t)ElementSize(v->type);
}

// ---- scopes --------------------------------------------------------------------------

void Kestrin::SetCurrentScope(VarRec* first)
{
    decimalPrecRec.next = first;
    if (first && !first->prev) first->prev = &decimalPrecRec;
}

VarRec* Kestrin::MainChain()
{
    return scopeStack.empty() ? CurrentScope() : scopeStack.front();
}

VarRec* Kestrin::ResultVariableFor(int resultType)
{
    VarRec* v = nullptr;
    switch (resultType) {
    case T_STRING: v = sysString; break;
    case T_INT: case T_UINT: v = sysInt; break;
    case T_FLOAT: v = sysFloat; break;
    case T_DOUBLE: v = sysDouble; break;
    case T_POINTER: v = sysPointer; break;
    case T_INT64: case T_UINT64: v = sysInt64; break;
    default: return nullptr;
    }
    if (v && v->indexed && v->base) {
        v->data = v->base;
        if (v->type == T_STRING && v->elemLen == 1) v->capacity = v->dims[0];
    }
    return v;
}

// ---- creation ------------------------------------------------------------------------

VarRec* Kestrin::CreateVariable(char* name, int type, uint32_t count, VarRec* chain)
{
    if (!name || type < 0 || type >= T_TYPE_COUNT) {
        errorCode = 1;
        return nullptr;
    }
    CutMark cut;
    char* dimText = nullptr;
    {
        bool inq = false;
        for (char* p = name; *p; ++p) {
            if (*p == '"') inq = !inq;
            else if (*p == '[' && !inq) {
                cut.Cut(p);
                dimText = p + 1;
                break;
            }
        }
    }
    char key[VAR_NAME_SIZE];
    {
        const char* n = SkipBlanks(name);
        size_t len = strlen(n);
        while (len && IsBlank(n[len - 1])) --len;
        if (len > (size_t)VAR_NAME_MAX) len = VAR_NAME_MAX;
        memcpy(key, n, len);
        key[len] = 0;
    }
    size_t keyLen = strlen(key);

    VarRec* start = chain ? chain : &stdinRec;
    if (type == T_ISTRING && !dimText) {
        errorCode = 44;
        return nullptr;
    }
    VarRec* last = start;
    for (VarRec* r = start; r; r = r->next) {
        if (keyLen && NameIs(r->name, key, keyLen)) {
            errorCode = 9;
            return nullptr;
        }
        last = r;
    }

    // Shape of the storage.
    int capacity = 0, elemLen = 0;
    int dims[3] = {0, 0, 0};
    uint64_t n = count;
    if (type == T_STRING) {
        capacity = PLAIN_STRING_SIZE;
        elemLen = PLAIN_STRING_SIZE;
        if (n) n = PLAIN_STRING_SIZE;
    }
    char* block = nullptr;
    if (n) {
        if (dimText) {
            char* close = FindClose(dimText);
            if (!close) {
                errorCode = 1;
                return nullptr;
            }
            char* p = dimText;
            for (int d = 0; d < 3; ++d) {
                char* end = ItemEnd(p, close);
                char item[ARG_TEXT_SIZE];
                const char* from = SkipBlanks(p);
                if (from > end) from = end;
                size_t len = (size_t)(end - from);
                if (len >= sizeof item) {
                    errorCode = 1;
                    return nullptr;
                }
                memcpy(item, from, len);
                item[len] = 0;
                int64_t value;
                unsigned char c0 = (unsigned char)item[0];
                if (c0 == '(' || c0 == '@' || c0 == 0xFF || IsLetter(c0)) {
                    double v = Evaluate(item);
                    if (errorCode) return nullptr;
                    value = TruncToInt64(v);
                } else {
                    value = strtoll(item, nullptr, 0);
                }
                if (value < 1) {   // negative sizes are refused like 0
                    errorCode = 45;
                    return nullptr;
                }
                if (value > (int64_t)MAX_STORAGE) {
                    errorCode = 2;
                    return nullptr;
                }
                dims[d] = (int)value;
                n *= (uint64_t)value;
                if (n > MAX_STORAGE) {
                    errorCode = 2;
                    return nullptr;
                }
                if (end == close) break;
                p = end + 1;
            }
        }
        if (type == T_ISTRING) {
            dims[0] += 1;
            n += 1;
            elemLen = 1;
            capacity = dims[0];
        }
        uint64_t bytes = n * (uint64_t)ElementSize(type);
        if (bytes > MAX_STORAGE) {
            errorCode = 2;
            return nullptr;
        }
        block = (char*)calloc(bytes ? (size_t)bytes : 1, 1);
        if (!block) {
            errorCode = 2;
            return nullptr;
        }
    }

    VarRec* r = (VarRec*)calloc(1, sizeof(VarRec));
    if (!r) {
        free(block);
        errorCode = 2;
        return nullptr;
    }
    last->next = r;
    r->prev = last;
    if (!chain) lastGlobal = r;
    memcpy(r->name, key, keyLen + 1);
    r->type = (uint8_t)type;
    r->capacity = capacity;
    r->elemLen = elemLen;
    r->builtin = 0;
    r->indexed = 0;
    if (n == 0) {
        r->indexed = (dimText || type == T_STRING) ? 1 : 0;
        return r;
    }
    memcpy(r->dims, dims, sizeof dims);
    r->data = block;
    if (dimText) {
        r->base = block;
        r->indexed = 1;
    }
    r->count = (uint32_t)n;
    if (type == T_ISTRING) r->type = T_STRING;
    if (type == T_STRING && !dimText) {
        r->elemLen = 1;
        r->dims[0] = PLAIN_STRING_SIZE;
        r->base = block;
        r->indexed = 1;
    }
    return r;
}

// ---- lookup --------------------------------------------------------------------------

// One index of an index list, [from, to).
int Kestrin::IndexValue(const char* from, const char* to, int64_t* out)
{
    from = SkipBlanks(from);
    if (from > to) from = to;
    char item[ARG_TEXT_SIZE];
    size_t len = (size_t)(to - from);
    if (len >= sizeof item) {
        errorCode = 1;
        return 0;
    }
    memcpy(item, from, len);
    item[len] = 0;
    bool op = false;
    for (const char* p = item; *p; ++p)
        if (IsOperator(*p)) {
            op = true;
            break;
        }
    if (op) {
        double v = Evaluate(item);
        if (errorCode) return 0;
        *out = TruncToInt64(v);
        return 1;
    }
    if (IsDigit((unsigned char)item[0]) || item[0] == '-') {
        *out = strtoll(item, nullptr, 0);
        return 1;
    }
    VarRec* v = LookupVariable(item, nullptr, false);
    if (!v) {
        if (!errorCode) errorCode = 10;
        return 0;
    }
    if (v->type != T_INT || !v->data) {
        errorCode = 14;
        return 0;
    }
    *out = (int32_t)ReadU32(v->data);
    return 1;
}

// Moves v's data to the element that the index list (text after "[") selects.
int Kestrin::SelectElement(VarRec* v, char* indexText)
{
    char* close = FindClose(indexText);
    if (!close) {
        errorCode = 1;
        return 0;
    }
    int64_t idx[3] = {0, 0, 0};
    int n = 0;
    for (char* p = indexText; n < 3;) {
        char* end = ItemEnd(p, close);
        if (!IndexValue(p, end, &idx[n])) return 0;
        ++n;
        if (end == close) break;
        p = end + 1;
    }
    for (int k = 0; k < n; ++k) {
        // Below 0 is refused; a dimension that is not there is bounded by the storage below.
        if (idx[k] < 0 || (v->dims[k] > 0 && idx[k] > (int64_t)v->dims[k] - 1)) {
            errorCode = 7;
            return 0;
        }
    }
    int64_t d0 = v->dims[0], d1 = v->dims[1];
    int64_t element = idx[0];
    if (n == 2) element = idx[0] + idx[1] * d0;
    else if (n == 3) element = idx[0] + (idx[1] + idx[2] * d1) * d0;
    int64_t size = ElementSize(v->type);
    bool isString = v->type == T_STRING;
    if (isString) size *= v->elemLen;
    int64_t offset = element * size;
    int64_t bytes = (int64_t)StorageBytes(v);
    if (size <= 0 || !v->base || element < 0 || offset + size > bytes) {
        errorCode = 7;
        return 0;
    }
    v->data = v->base + offset;
    if (isString && v->elemLen == 1) {
        int64_t cap = n == 1 ? 1 : d0 - idx[0];
        if (cap > bytes - offset) cap = bytes - offset;
        if (cap < 1) cap = 1;
        v->capacity = (int)cap;
    }
    return 1;
}

VarRec* Kestrin::FindEventWindow(VarRec* chain, bool fallback)
{
    uint32_t wanted = constants[CONST_EVENT_WINDOW];
    for (VarRec* r = chain ? chain : &stdoutRec; r; r = r->next) {
        if (r->type != T_WINDOW) continue;
        char* start = StorageStart(r);
        size_t slots = StorageBytes(r) / 4;
        for (size_t i = 0; i < slots; ++i) {
            if (ReadU32(start + 4 * i) == wanted) {
                if (r->indexed) r->data = start + 4 * i;
                return r;
            }
        }
    }
    if (fallback && !scopeStack.empty() && MainChain()) return FindEventWindow(MainChain(), false);
    return nullptr;
}

// Runs a text as a statement and finds the result variable of its value.
VarRec* Kestrin::RunAsFunction(char* text)
{
    StmtRec* s = NewStatementRecord(MAX_ARGS);
    if (!s) {
        errorCode = 2;
        return nullptr;
    }
    VarRec* found = nullptr;
    if (ParseLine(s, text) != 0) {
        errorCode = 10;
    } else {
        errorCode = 0;
        if (Execute(s) && !errorCode) found = ResultVariableFor(s->resultType);
    }
    FreeStatementRecord(s);
    if (!found && !errorCode) errorCode = 10;
    return found;
}

VarRec* Kestrin::LookupVariable(char* name, VarRec* chain, bool allowCall)
{
    if (!name) {
        if (!errorCode) errorCode = 10;
        return nullptr;
    }
    char* text = SkipBlanks(name);
    CutMark dotCut, bracketCut;

    // Member path: the first "." outside quotes and brackets.
    char* member = nullptr;
    if (text[0] && text[1]) {
        bool inq = false;
        int depth = 0;
        for (char* p = text; *p; ++p) {
            char c = *p;
            if (c == '"') inq = !inq;
            else if (inq) continue;
            else if (c == '[') ++depth;
            else if (c == ']') { if (depth) --depth; }
            else if (c == '.' && depth == 0) {
                dotCut.Cut(p);
                member = p + 1;
                break;
            }
        }
    }
    char* n = text;
    bool deref = false;
    if (*n == '#') {
        deref = true;
        n = SkipBlanks(n + 1);
    }
    char* index = nullptr;
    VarRec* found = nullptr;
    bool searched = false;
    if (n[0] && n[1] && (index = strchr(n, '['))) {
        bracketCut.Cut(index);
        ++index;
    } else if (IsEventWindowToken(n)) {
        found = FindEventWindow(chain, chain == nullptr);
        searched = true;
    }

    if (!searched) {
        found = FindInChain(chain ? chain : &stdoutRec, n, KeyLength(n));
        if (found && deref) found = found->target;
        if (!found && !chain && !scopeStack.empty() && MainChain()) {
            bracketCut.Restore();
            dotCut.Restore();
            VarRec* r = LookupVariable(text, MainChain(), false);
            if (r) return r;
        } else if (found) {
            if (found->type == T_STRING && found->elemLen == 1) found->capacity = found->dims[0];
            if (found->indexed) {
                if (!index) {
                    found->data = found->base;
                } else if (!SelectElement(found, index)) {
                    found = nullptr;
                }
            }
            if (found && member && found->type == T_USER_0) {
                VarRec* header = found->data ? (VarRec*)SlotToPtr(ReadU32(found->data)) : nullptr;
                VarRec* r = nullptr;
                if (header) r = LookupVariable(member, header, true);
                else if (!errorCode) errorCode = 10;
                return r;
            }
        }
    }
    bracketCut.Restore();
    dotCut.Restore();
    if (found) return found;

    if (!errorCode) errorCode = 10;
    if (allowCall && errorCode != 7) {
        errorCode = 0;
        return RunAsFunction(text);
    }
    return nullptr;
}

// ---- streams and window objects ------------------------------------------------------

uint32_t Kestrin::OpenStreamSlot(FILE* fp)
{
    KStream* ks = (KStream*)malloc(sizeof(KStream));
    uint32_t slot = 0;
    if (!ks || !PtrToSlot(ks, &slot) || slot == 0) {
        free(ks);
        errorCode = 2;
        return 0;
    }
    ks->fp = fp;
    streamList.push_back(ks);
    return slot;
}

KStream* Kestrin::KnownStream(uint32_t slot)
{
    if (!slot) return nullptr;
    for (KStream* ks : streamList) {
        uint32_t s;
        if (PtrToSlot(ks, &s) && s == slot) return ks;
    }
    return nullptr;
}

void Kestrin::CloseStreamSlot(uint32_t slot)
{
    KStream* ks = KnownStream(slot);
    if (!ks) return;
    streamList.erase(std::find(streamList.begin(), streamList.end(), ks));
    if (ks->fp && ks->fp != stdin && ks->fp != stdout && ks->fp != stderr) fclose(ks->fp);
    free(ks);
}

CKestrinWnd* Kestrin::KnownWindowObject(uint32_t slot)
{
    if (!slot) return nullptr;
    for (CKestrinWnd* w : windowList) {
        uint32_t s;
        if (w && PtrToSlot(w, &s) && s == slot) return w;
    }
    return nullptr;
}

// ---- release -------------------------------------------------------------------------

void Kestrin::ReleaseResources(VarRec* r)
{
    if (r->type == T_LABEL_0) {
        if (r->params) {
            VarRec* params = r->params;
            r->params = nullptr;
            FreeChain(params, false);
        }
        return;
    }
    if (r->frame || r->borrowed || r->builtin) return;
    char* start = StorageStart(r);
    size_t bytes = StorageBytes(r);
    if (!start) return;
    switch (r->type) {
    case T_WINDOW:
    case T_DIALOG:
        for (size_t off = 0; off + 4 <= bytes; off += 4) {
            CKestrinWnd* w = KnownWindowObject(ReadU32(start + off));
            if (!w) continue;
            WriteU32(start + off, 0);
            windowList.erase(std::find(windowList.begin(), windowList.end(), w));
            if (outputWindow == w) outputWindow = nullptr;
            DestroyWindowObject(w);
            constants[CONST_EVENT_WINDOW] = 0;
        }
        break;
    case T_FILE:
    case T_BFILE:
        for (size_t off = 0; off + 4 <= bytes; off += 4) {
            uint32_t slot = ReadU32(start + off);
            if (KnownStream(slot)) {
                WriteU32(start + off, 0);
                CloseStreamSlot(slot);
            }
        }
        break;
    case T_USER_0: {
        uint64_t instances = 1;
        for (int d = 0; d < 3; ++d)
            if (r->dims[d] > 0) instances *= (uint64_t)r->dims[d];
        for (uint64_t i = 0; i < instances && (i + 1) * 4 <= bytes; ++i) {
            VarRec* header = (VarRec*)SlotToPtr(ReadU32(start + 4 * i));
            WriteU32(start + 4 * i, 0);
            if (header) FreeChain(header, false);
        }
        break;
    }
    default:
        break;
    }
}

void Kestrin::FreeChain(VarRec* first, bool stopAtFrame)
{
    if (!first) return;
    VarRec* last = first;
    while (last->next) last = last->next;
    for (VarRec* r = last; r; r = r->prev) ReleaseResources(r);

    last = first;
    while (last->next) last = last->next;
    for (VarRec* r = last; r;) {
        VarRec* prev = r->prev;
        if (stopAtFrame && r->frame) {
            r->next = nullptr;
            return;
        }
        if (!r->builtin) {
            if (!r->borrowed) free(r->indexed ? r->base : r->data);
            if (lastGlobal == r) lastGlobal = prev ? prev : &decimalPrecRec;
            if (decimalPrecRec.next == r) decimalPrecRec.next = nullptr;
            if (prev) prev->next = nullptr;
            free(r);
        }
        r = prev;
    }
}
