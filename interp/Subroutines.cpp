// Jumps, subroutine calls and returns, and parameter declarations.
#include "interp/Kestrin.h"
#include "values/CharClass.h"
#include <cstdlib>
#include <cstring>

namespace {

const uint32_t NO_LINE = 0xFFFFFFFFu;

// Copies text into dest (size bytes) without leading and trailing blanks; false if it does not fit.
bool CopyTrimmed(char* dest, size_t size, const char* from, const char* to)
{
    while (from < to && IsBlank(*from)) ++from;
    while (to > from && IsBlank(to[-1])) --to;
    size_t n = (size_t)(to - from);
    if (n >= size) return false;
    memcpy(dest, from, n);
    dest[n] = 0;
    return true;
}

// Types whose parameters share the argument's storage and have none of their own.
bool IsSharedType(int type)
{
    return type == T_STRING || type == T_FILE || type == T_WINDOW || type == T_DIALOG ||
           type == T_BFILE || type == T_POINTER;
}

bool IsIntegerSource(int type)
{
    return type == T_CHAR || type == T_INT || type == T_WORD || type == T_UINT;
}

void Store(char* dest, const void* value, size_t n) { memcpy(dest, value, n); }

// Frees storage the parameter owns before it takes someone else's.
void DropOwnStorage(VarRec* p)
{
    if (!p->borrowed) free(p->indexed ? p->base : p->data);
    p->data = p->base = nullptr;
    p->borrowed = 1;
}

}

// ---- targets ------------------------------------------------------------------------

VarRec* Kestrin::ResolveLabel(const char* target)
{
    char name[ARG_TEXT_SIZE];
    if (!CopyTrimmed(name, sizeof name, target, target + strlen(target)) || !name[0]) {
        errorCode = 12;
        return nullptr;
    }
    if (name[0] == '$') {
        // The label name is the text of a STRING variable.
        VarRec* holder = LookupVariable(name + 1, nullptr, true);
        if (!holder) {
            if (!errorCode) errorCode = 10;
            return nullptr;
        }
        if (holder->type != T_STRING || !holder->data) {
            errorCode = 14;
            return nullptr;
        }
        size_t limit = holder->capacity > 0 ? (size_t)holder->capacity : 0;
        size_t bytes = StorageBytes(holder);
        size_t offset = holder->base ? (size_t)(holder->data - holder->base) : 0;
        if (holder->base && offset < bytes && limit > bytes - offset) limit = bytes - offset;
        if (limit > sizeof name - 1) limit = sizeof name - 1;
        size_t n = 0;
        while (n < limit && holder->data[n]) ++n;
        char text[ARG_TEXT_SIZE];
        memcpy(text, holder->data, n);
        text[n] = 0;
        if (!CopyTrimmed(name, sizeof name, text, text + n) || !name[0]) {
            errorCode = 12;
            return nullptr;
        }
    }
    VarRec* label = LookupVariable(name, nullptr, true);
    if (!label) {
        errorCode = 12;
        return nullptr;
    }
    // A declared library function has no lines to run.
    if (label->type != T_LABEL_0 || label->external) {
        errorCode = 14;
        return nullptr;
    }
    return label;
}

// Removes the frames of the blocks that a jump to the line after `target` leaves:
// a select, do or while frame stays only when the jump lands inside its block.
void Kestrin::UnwindJumpFrames(uint32_t target)
{
    uint32_t next = target + 1;
    while (stack && stackTop >= 2) {
        uint32_t marker = stack[stackTop - 1];
        uint32_t value = stack[stackTop - 2];
        uint32_t first, last;
        if (marker == SELECT_MARKER) {
            last = value;
            first = last < lineCount ? MatchBackward(last, 43, 41) : NO_LINE;
        } else if (marker == DO_MARKER || marker == WHILE_MARKER) {
            first = value + 1;
            last = first < lineCount ? MatchForward(first, marker == DO_MARKER ? 78 : 4,
                                                    marker == DO_MARKER ? 79 : 5)
                                     : NO_LINE;
        } else {
            break;
        }
        if (first != NO_LINE && last != NO_LINE && next > first && next <= last) break;
        stackTop -= 2;
    }
}

// ---- commands -----------------------------------------------------------------------

StmtRec* Kestrin::CmdGoto(StmtRec* s)
{
    if (s->argc == 0) {
        errorCode = 1;
        return nullptr;
    }
    VarRec* label = ResolveLabel(s->args[0]);
    if (!label) return nullptr;
    currentLine = (uint32_t)label->capacity;
    UnwindJumpFrames(currentLine);
    return s;
}

StmtRec* Kestrin::CmdEnd(StmtRec* s)
{
    if (s->argc != 0) errorCode = 1;
    return nullptr;
}

StmtRec* Kestrin::CmdDeclare(StmtRec* s)
{
    if (s->argc == 2 || s->argc == 3) return DeclareExternal(s);
    if (s->argc != 1) {
        errorCode = s->argc == 0 ? 1 : 56;
        return nullptr;
    }
    char buffer[ARG_TEXT_SIZE];
    strncpy(buffer, s->args[0], sizeof buffer - 1);
    buffer[sizeof buffer - 1] = 0;
    char* text = buffer;
    while (IsBlank(*text)) ++text;
    if (*text == '"') {
        // The prototype may also be written as a string literal.
        char* last = strrchr(text + 1, '"');
        if (last) *last = 0;
        ++text;
    }
    char* open = strchr(text, '(');
    char* close = open ? strrchr(open, ')') : nullptr;
    if (!open || !close) {
        errorCode = 1;
        return nullptr;
    }
    *close = 0;
    char* bar = strchr(text, '|');
    char* nameEnd = bar && bar < open ? bar : open;
    char name[ARG_TEXT_SIZE];
    if (!CopyTrimmed(name, sizeof name, text, nameEnd) || !name[0]) {
        errorCode = 1;
        return nullptr;
    }
    VarRec* label = LookupVariable(name, nullptr, true);
    if (!label) {
        if (!errorCode) errorCode = 10;
        return nullptr;
    }
    if (label->type != T_LABEL_0) {
        errorCode = 14;
        return nullptr;
    }
    return BuildParameterList(label, open + 1) ? s : nullptr;
}

int Kestrin::BuildParameterList(VarRec* label, const char* paramText, int* count)
{
    if (count) *count = 0;
    if (label->params) {
        errorCode = 51;
        return 0;
    }
    size_t len = strlen(paramText);
    if (len > (size_t)ARG_TEXT_SIZE - 1) {
        errorCode = 1;
        return 0;
    }
    StmtRec* d = nestedStmt;
    VarRec* header = (VarRec*)calloc(1, sizeof(VarRec));
    if (!header || !d) {
        free(header);
        errorCode = 2;
        return 0;
    }
    header->frame = 1;
    label->params = header;
    label->frame = 1;

    // "{Define} a:INT, s:STRING" splits the parameters as a declaration line would.
    char line[4 + ARG_TEXT_SIZE];
    line[0] = (char)0xFF;
    line[1] = (char)(0xE0 + 21 / 16);
    line[2] = (char)(0xE0 + 21 % 16);
    line[3] = ' ';
    memcpy(line + 4, paramText, len + 1);
    if (ParseLine(d, line) != 0) return 0;

    int made = 0;
    for (int i = 0; i < d->argc; ++i) {
        const char* arg = d->args[i];
        const char* colon = strchr(arg, ':');
        char name[ARG_TEXT_SIZE];
        if (!colon || !CopyTrimmed(name, sizeof name, arg, colon) || !name[0]) {
            errorCode = 1;
            return 0;
        }
        const char* typeText = colon + 1;
        while (IsBlank(*typeText)) ++typeText;
        int type = TypeCodeByName(typeText);
        VarRec* r;
        if (type >= 0) {
            bool none = IsSharedType(type) || strchr(name, '[') != nullptr;
            r = CreateVariable(name, type, none ? 0 : 1, header);
            if (r && none) r->borrowed = 1;
        } else {
            r = CreateVariable(name, T_USER_0, 0, header);
        }
        if (!r) {
            if (!errorCode) errorCode = 2;
            return 0;
        }
        r->frame = 1;
        ++made;
    }
    if (count) *count = made;
    return errorCode ? 0 : 1;
}

// ---- calls --------------------------------------------------------------------------

VarRec* Kestrin::CreateCallParameters(VarRec* label)
{
    VarRec* header = (VarRec*)calloc(1, sizeof(VarRec));
    if (!header) {
        errorCode = 2;
        return nullptr;
    }
    header->frame = 1;
    for (VarRec* d = label->params->next; d; d = d->next) {
        char name[VAR_NAME_SIZE];
        memcpy(name, d->name, sizeof name);
        name[VAR_NAME_SIZE - 1] = 0;
        // An ISTRING parameter is made as a STRING and keeps its declared type.
        int type = d->type == T_ISTRING ? (int)T_STRING : (int)d->type;
        VarRec* p = CreateVariable(name, type, d->count, header);
        if (!p) {
            if (!errorCode) errorCode = 2;
            FreeChain(header, false);
            return nullptr;
        }
        p->type = d->type;
        p->capacity = d->capacity;
        p->elemLen = d->elemLen;
        p->packing = d->packing;
        p->borrowed = d->borrowed;
        p->frame = d->frame;
        memcpy(p->dims, d->dims, sizeof p->dims);
        p->count = d->count;
        p->indexed = d->indexed;
    }
    return header;
}

int Kestrin::BindParameter(VarRec* p, ValueRec* v)
{
    VarRec* a = v->var;
    if (a && p->indexed) {
        // By reference: the parameter becomes the caller's array or string.
        if (a->type != p->type || !a->indexed) {
            errorCode = 14;
            return 0;
        }
        DropOwnStorage(p);
        p->data = a->data;
        p->base = a->base;
        memcpy(p->dims, a->dims, sizeof p->dims);
        p->capacity = a->capacity;
        p->elemLen = a->elemLen;
        p->packing = a->packing;
        p->count = a->count;
        if (p->base && p->data != p->base) {
            // An element (s$[2], a[3]): the parameter starts at that element, so that
            // its own plain lookups do not move back to the caller's first element.
            size_t offset = (size_t)(p->data - p->base);
            size_t bytes = StorageBytes(a);
            size_t rest = bytes > offset ? bytes - offset : 0;
            if (p->type == T_STRING) {
                size_t cap = p->capacity > 0 ? (size_t)p->capacity : 0;
                if (cap > rest) cap = rest;
                p->elemLen = 1;
                p->capacity = (int)cap;
                p->dims[0] = (int)cap;
                p->dims[1] = p->dims[2] = 0;
                p->count = (uint32_t)cap;
            } else {
                size_t size = (size_t)ElementSize(p->type);
                size_t n = size ? rest / size : 0;
                p->dims[0] = (int)n;
                p->dims[1] = p->dims[2] = 0;
                p->count = (uint32_t)n;
            }
            p->base = p->data;
        }
        return 1;
    }

    int t = v->type;
    switch (p->type) {
    case T_STRING: {
        if (t != T_STRING || !v->text) break;
        if (!StorageStart(p) || p->borrowed) {
            char* block = (char*)calloc(PLAIN_STRING_SIZE, 1);
            if (!block) {
                errorCode = 2;
                return 0;
            }
            p->data = p->base = block;
            p->borrowed = 0;
            p->capacity = PLAIN_STRING_SIZE;
            p->elemLen = 1;
            p->dims[0] = PLAIN_STRING_SIZE;
            p->dims[1] = p->dims[2] = 0;
            p->count = PLAIN_STRING_SIZE;
            p->indexed = 1;
        }
        size_t limit = p->capacity > 0 ? (size_t)p->capacity - 1 : 0;
        size_t n = strlen(v->text);
        if (n > limit) n = limit;
        memmove(p->data, v->text, n);
        p->data[n] = 0;
        return 1;
    }
    case T_INT:
    case T_UINT:
    case T_FLOAT:
    case T_WORD:
    case T_DOUBLE:
    case T_INT64:
    case T_UINT64: {
        if (!p->data) break;   // an array parameter needs an array variable
        bool fromFloat = t == T_FLOAT || t == T_DOUBLE;
        bool fromWide = t == T_INT64 || t == T_UINT64;
        if (p->type == T_INT || p->type == T_UINT) {
            if (!(IsIntegerSource(t) || fromFloat)) break;
            int32_t x = v->i;
            Store(p->data, &x, 4);
        } else if (p->type == T_FLOAT) {
            if (!(t == T_INT || t == T_WORD || t == T_UINT || fromFloat)) break;
            float x = t == T_FLOAT ? v->f : t == T_DOUBLE ? (float)v->d : (float)v->i;
            Store(p->data, &x, 4);
        } else if (p->type == T_WORD) {
            if (!(IsIntegerSource(t) || fromFloat)) break;
            uint16_t x = (uint16_t)v->i;
            Store(p->data, &x, 2);
        } else if (p->type == T_DOUBLE) {
            if (!(t == T_INT || t == T_WORD || t == T_UINT || fromFloat || fromWide)) break;
            double x = fromFloat ? (t == T_FLOAT ? (double)v->f : v->d)
                       : fromWide ? (double)v->i64 : (double)v->i;
            Store(p->data, &x, 8);
        } else {
            if (!(IsIntegerSource(t) || fromFloat || fromWide)) break;
            int64_t x = (fromFloat || fromWide) ? v->i64 : (int64_t)v->i;
            Store(p->data, &x, 8);
        }
        return 1;
    }
    case T_MEMORY:
    case T_FILE:
    case T_WINDOW:
    case T_DIALOG:
    case T_BFILE:
        // The same handle; it stays the caller's.
        if (!a || a->type != p->type || !v->elem) break;
        DropOwnStorage(p);
        p->data = v->elem;
        return 1;
    case T_USER_0:
        if (!a || a->type != T_USER_0 || !v->elem) break;
        DropOwnStorage(p);
        p->data = v->elem;
        p->packing = a->packing;
        return 1;
    case T_POINTER: {
        if (!a || !v->elem) break;
        if (a->type == T_POINTER) {
            DropOwnStorage(p);
            p->data = v->elem;
            p->target = a->target;
            return 1;
        }
        // A pointer to the argument: its own slot holds the element's address.
        uint32_t slot;
        if (!SlotOf(v->elem, &slot)) return 0;
        DropOwnStorage(p);
        char* block = (char*)calloc(4, 1);
        if (!block) {
            errorCode = 2;
            return 0;
        }
        Store(block, &slot, 4);
        p->data = block;
        p->borrowed = 0;
        p->count = 1;
        p->target = a;
        return 1;
    }
    default:
        // CHAR, ARRAY_0, SYSTEM_0, LABEL_0, ISTRING
        errorCode = 62;
        return 0;
    }
    errorCode = 14;
    return 0;
}

// A parameter that the call gives no argument: one zeroed element of its own
// (an empty plain string for strings, a null handle for files, windows, pointers
// and structures), so that using it reads a defined empty value. Without the
// frame flag, a file or window the subroutine puts there is released with it.
int Kestrin::GiveEmptyStorage(VarRec* p)
{
    if (StorageStart(p)) return 1;
    size_t size;
    if (p->type == T_STRING || p->type == T_ISTRING) {
        size = PLAIN_STRING_SIZE;
    } else {
        size = (size_t)ElementSize(p->type);
        if (size < 4) size = 4;
    }
    char* block = (char*)calloc(size, 1);
    if (!block) {
        errorCode = 2;
        return 0;
    }
    p->data = block;
    p->borrowed = 0;
    p->frame = 0;
    p->dims[1] = p->dims[2] = 0;
    if (p->type == T_STRING || p->type == T_ISTRING) {
        p->type = T_STRING;
        p->base = block;
        p->indexed = 1;
        p->capacity = PLAIN_STRING_SIZE;
        p->elemLen = 1;
        p->dims[0] = PLAIN_STRING_SIZE;
        p->count = PLAIN_STRING_SIZE;
    } else {
        p->count = 1;
        if (p->indexed) {
            p->base = block;
            p->dims[0] = 1;
        }
    }
    return 1;
}

namespace {

const int MAX_INSTANCE_DEPTH = 8;

}

// Calls visit(record) for every record of the chain from first and, down to a
// few levels, for the members of the structure instances those records hold.
template <typename Visit>
void Kestrin::WalkRecords(VarRec* first, Visit visit, int depth)
{
    for (VarRec* x = first; x; x = x->next) {
        visit(x);
        if (x->type != T_USER_0 || depth >= MAX_INSTANCE_DEPTH) continue;
        char* start = StorageStart(x);
        size_t bytes = StorageBytes(x);
        for (size_t off = 0; start && off + 4 <= bytes; off += 4) {
            uint32_t slot;
            memcpy(&slot, start + off, 4);
            if (slot) WalkRecords((VarRec*)SlotToPtr(slot), visit, depth + 1);
        }
    }
}

// A pointer that targets a record about to be released targets nothing from now on.
void Kestrin::ForgetPointersInto(VarRec* dying)
{
    auto forget = [&](VarRec* x) {
        if (x->type != T_POINTER || !x->target) return;
        VarRec* t = x->target;
        bool dies = false;
        WalkRecords(dying, [&](VarRec* d) { dies = dies || d == t; }, 0);
        if (dies) x->target = nullptr;
    };
    WalkRecords(stdoutRec.next, forget, 0);   // the current scope follows the built-ins
    for (VarRec* chain : scopeStack) WalkRecords(chain, forget, 0);
}

void Kestrin::ReleaseCallScope(VarRec* header, VarRec* chain)
{
    ForgetPointersInto(header ? header : chain);
    if (header) {
        // Parameters and the variables made after them hang from the header.
        FreeChain(header, false);
        return;
    }
    if (chain) {
        chain->prev = nullptr;   // detached: the release must not walk into the caller's chain
        FreeChain(chain, false);
    }
}

StmtRec* Kestrin::CmdCallSub(StmtRec* s)
{
    if (s->argc == 0) {
        errorCode = 1;
        return nullptr;
    }
    uint32_t frameBase = stackTop;
    if (!PushFrame(currentLine, CALL_MARKER)) return nullptr;
    VarRec* label = ResolveLabel(s->args[0]);
    if (!label) {
        stackTop = frameBase;
        return nullptr;
    }
    VarRec* savedLast = lastGlobal;
    scopeStack.push_back(CurrentScope());

    VarRec* header = nullptr;
    if (label->params && label->params->next) {
        header = CreateCallParameters(label);
        bool ok = header != nullptr;
        VarRec* p = ok ? header->next : nullptr;
        for (int i = 1; ok && p && i < s->argc; ++i, p = p->next) {
            ValueRec v;
            if (!FetchArgument(&v, s, i, WANT_ANY) || !BindParameter(p, &v)) ok = false;
        }
        for (; ok && p; p = p->next)
            if (!GiveEmptyStorage(p)) ok = false;
        if (!ok || errorCode) {
            // Undo the call so that nothing refers to the unfinished parameters.
            if (!errorCode) errorCode = 2;
            if (header) FreeChain(header, false);
            scopeStack.pop_back();
            lastGlobal = savedLast;
            stackTop = frameBase;
            return nullptr;
        }
        SetCurrentScope(header->next);
    } else {
        SetCurrentScope(nullptr);
    }

    uint32_t callLine = currentLine;
    uint32_t bodyStart = (uint32_t)label->capacity + 1;
    currentLine = bodyStart;
    int returned = 0;
    StmtRec* body = NewStatementRecord(MAX_ARGS);
    if (!body) {
        errorCode = 2;
    } else {
        returned = RunLines(body, true);
        s->resultType = body->resultType;
        FreeStatementRecord(body);
    }
    // A body that could not start at all (nesting too deep) fails on the call's line.
    if (!returned && errorCode && currentLine == bodyStart) currentLine = callLine + 1;

    if (!scopeStack.empty()) {
        VarRec* caller = scopeStack.back();
        scopeStack.pop_back();
        VarRec* chain = CurrentScope();
        SetCurrentScope(caller);
        ReleaseCallScope(header, chain != caller ? chain : nullptr);
    }
    lastGlobal = savedLast;
    --currentLine;
    return (returned && !errorCode) ? s : nullptr;
}

StmtRec* Kestrin::CmdReturn(StmtRec* s)
{
    for (;;) {
        uint32_t v = PopStack();
        if (v == CALL_MARKER) break;
        if (v < CALL_MARKER) {
            errorCode = 35;
            return nullptr;
        }
        PopStack();   // the frame's line
    }
    currentLine = PopStack();

    if (s->argc == 0) return s;
    ValueRec v;
    if (!FetchArgument(&v, s, 0, WANT_ANY)) return nullptr;
    switch (v.type) {
    case T_STRING: {
        char* dest = sysString->base ? sysString->base : sysString->data;
        size_t n = v.text ? strnlen(v.text, RESULT_STRING_SIZE) : 0;
        if (n) memmove(dest, v.text, n);
        dest[n] = 0;
        sysString->data = dest;
        s->resultType = T_STRING;
        break;
    }
    case T_CHAR:
    case T_INT:
    case T_WORD:
    case T_UINT:
        Store(sysInt->data, &v.i, 4);
        s->resultType = T_INT;
        break;
    case T_FLOAT:
        Store(sysFloat->data, &v.f, 4);
        s->resultType = T_FLOAT;
        break;
    case T_DOUBLE:
        Store(sysDouble->data, &v.d, 8);
        s->resultType = T_DOUBLE;
        break;
    case T_POINTER:
        Store(sysPointer->data, &v.handle, 4);
        sysPointer->target = v.var ? v.var->target : nullptr;
        s->resultType = T_POINTER;
        break;
    case T_INT64:
    case T_UINT64:
        Store(sysInt64->data, &v.i64, 8);
        s->resultType = v.type;
        break;
    default:
        break;
    }
    return s;
}
