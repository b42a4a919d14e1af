// Functions of dynamic-link libraries: declaration, call and release of the library.
#include "interp/Kestrin.h"
#include "values/CharClass.h"
#include "interp/CallThunk.h"
#include <windows.h>
#include <cstdlib>
#include <cstring>

namespace {

const int ALIAS_SIZE = 30;                    // exported name given after "|": 29 characters
const char TRUNCATE_TOKEN[] = "\xFF\xE6\xEB";  // how the compiler writes the type name INT

// Copies [from, to) without surrounding blanks into out (size bytes with the NUL).
void CopyTrimmed(char* out, size_t size, const char* from, const char* to)
{
    while (from < to && IsBlank(*from)) ++from;
    while (to > from && IsBlank(to[-1])) --to;
    size_t n = (size_t)(to - from);
    if (n >= size) n = size - 1;
    memcpy(out, from, n);
    out[n] = 0;
}

// The number as a double, for FLOAT and DOUBLE parameters of any numeric argument.
double NumberAsDouble(const ValueRec* v)
{
    if (v->type == T_UINT64) return (double)(uint64_t)v->i64;
    return v->d;
}

// The largest power of two not above min(packing, size): alignment of a member.
size_t MemberAlignment(int packing, size_t size)
{
    size_t limit = packing < 1 ? 1 : (size_t)packing;
    if (limit > size) limit = size;
    size_t a = 1;
    while (a * 2 <= limit) a *= 2;
    return a;
}

}

// One flat copy per structure argument: the instance address, then the members from
// offset 8. The callee gets the address of offset 8.
struct Kestrin::ExternalCall {
    struct Copy {
        char* block;
        size_t size;
        VarRec* header;
        int packing;
    };
    CCallThunk thunk;
    Copy copies[MAX_ARGS];
    int copyCount = 0;
};

// The text of argument index of a declaration: a string literal without its quotes,
// anything else as written (a type name may also be the compiler's INT token).
// 0 with the error code set on failure.
int Kestrin::DeclarationText(StmtRec* s, int index, char* out, size_t size)
{
    out[0] = 0;
    if (index >= (int)s->argc) {
        errorCode = 56;
        return 0;
    }
    const char* text = s->args[index];
    if (s->kinds[index] == KIND_STRING) {
        ValueRec v;
        if (!FetchArgument(&v, s, index, T_STRING)) return 0;
        text = v.text;
    }
    CopyTrimmed(out, size, text, text + strlen(text));
    return 1;
}

StmtRec* Kestrin::DeclareExternal(StmtRec* s)
{
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_STRING) || !v.text) {
        errorCode = 14;
        return nullptr;
    }
    char library[LIBRARY_NAME_SIZE];
    CopyTrimmed(library, sizeof library, v.text, v.text + strlen(v.text));

    char proto[ARG_TEXT_SIZE];
    if (!DeclarationText(s, 1, proto, sizeof proto)) return nullptr;
    char* open = strchr(proto, '(');
    char* close = open ? strrchr(open, ')') : nullptr;
    if (!close) {
        errorCode = 1;
        return nullptr;
    }
    char params[ARG_TEXT_SIZE];
    CopyTrimmed(params, sizeof params, open + 1, close);

    char name[ARG_TEXT_SIZE], alias[ALIAS_SIZE];
    alias[0] = 0;
    char* bar = (char*)memchr(proto, '|', (size_t)(open - proto));
    CopyTrimmed(name, sizeof name, proto, bar ? bar : open);
    if (bar) CopyTrimmed(alias, sizeof alias, bar + 1, open);
    if (!name[0]) {
        errorCode = 1;
        return nullptr;
    }

    VarRec* label = LookupVariable(name, nullptr, true);
    if (!label) {
        errorCode = 0;
        label = CreateVariable(name, T_LABEL_0, 0, scopeStack.empty() ? nullptr : MainChain());
        if (!label) return nullptr;
        if (alias[0]) {
            label->data = (char*)malloc(ALIAS_SIZE);
            if (!label->data) {
                errorCode = 2;
                return nullptr;
            }
            memcpy(label->data, alias, ALIAS_SIZE);
        }
        label->external = 1;
        const char* lib = library;
        if (*lib == '!') {
            label->cdeclFlag = 1;
            ++lib;
        }
        CopyTrimmed(label->library, sizeof label->library, lib, lib + strlen(lib));
        if (!LoadLibraryA(label->library)) {
            errorCode = 53;
            return nullptr;
        }
        label->packing = NO_TYPE;
        errorCode = 0;
        if (s->argc >= 3) {
            char typeText[ARG_TEXT_SIZE];
            if (!DeclarationText(s, 2, typeText, sizeof typeText)) return nullptr;
            int code = TypeCodeByName(typeText);
            if (code < 0 && strcmp(typeText, TRUNCATE_TOKEN) == 0) code = T_INT;
            if (code < 0) {
                errorCode = 55;
                return nullptr;
            }
            label->packing = code;
        }
    } else if (label->type != T_LABEL_0) {
        errorCode = 14;
        return nullptr;
    }

    int count = 0;
    if (!BuildParameterList(label, params, &count) || errorCode) {
        if (!errorCode) errorCode = 1;
        return nullptr;
    }
    label->elemLen = count;
    return s;
}

// Lays the members of an instance out in members[0, size) or reads them back from
// there: addresses of indexed members (arrays, strings), CHAR, WORD, 32-bit values,
// window handles and 64-bit values, each aligned to the smaller of the packing and
// its size. Indexed members keep their own storage on the way back: the callee may
// have written into it, but an address it put there in place of the storage's is
// never adopted. Window and dialog members are not read back.
int Kestrin::StructLayout(VarRec* header, int packing, char* members, size_t size, bool restore)
{
    size_t off = 0;
    for (VarRec* m = header->next; m; m = m->next) {
        size_t n;
        if (m->indexed) n = 4;
        else {
            switch (m->type) {
            case T_CHAR: n = 1; break;
            case T_WORD: n = 2; break;
            case T_INT: case T_UINT: case T_MEMORY: case T_POINTER: case T_WINDOW: case T_DIALOG: n = 4; break;
            case T_INT64: case T_UINT64: n = 8; break;
            default:
                errorCode = 57;
                return 0;
            }
        }
        size_t a = MemberAlignment(packing, n);
        off = (off + a - 1) / a * a;
        if (off + n > size) {
            errorCode = 57;
            return 0;
        }
        char* at = members + off;
        off += n;
        if (m->indexed) {
            if (restore) continue;
            uint32_t slot = 0;
            if (m->base && !SlotOf(m->base, &slot)) return 0;
            memcpy(at, &slot, 4);
            continue;
        }
        if (m->type == T_WINDOW || m->type == T_DIALOG) {
            if (restore) continue;
            uint32_t object = 0, handle = 0;
            if (m->data) memcpy(&object, m->data, 4);
            if (CKestrinWnd* w = KnownWindowObject(object)) handle = WindowObjectHandle(w);
            memcpy(at, &handle, 4);
            continue;
        }
        if (!m->data) continue;
        if (restore) memcpy(m->data, at, n);
        else memcpy(at, m->data, n);
    }
    return 1;
}

int Kestrin::PassStructure(ExternalCall& call, const ValueRec* v)
{
    VarRec* header = (VarRec*)SlotToPtr(v->handle);
    int members = 0;
    if (header)
        for (VarRec* m = header->next; m; m = m->next) ++members;
    if (!members || call.copyCount >= MAX_ARGS) {   // no instance, or a type without members
        errorCode = 57;
        return 0;
    }
    size_t size = 8 * (size_t)members;
    char* block = (char*)calloc(size + 8, 1);
    if (!block) {
        errorCode = 2;
        return 0;
    }
    memcpy(block, &header, sizeof header);
    int packing = v->var ? v->var->packing : 8;
    uint32_t slot;
    if (!StructLayout(header, packing, block + 8, size, false) || !SlotOf(block + 8, &slot)) {
        free(block);
        return 0;
    }
    if (!call.thunk.Add(slot, SLOT_UNSIGNED)) {
        free(block);
        errorCode = 57;
        return 0;
    }
    ExternalCall::Copy& c = call.copies[call.copyCount++];
    c.block = block;
    c.size = size;
    c.header = header;
    c.packing = packing;
    return 1;
}

// Converts one argument into slots by its type and its declaration record (null
// when the function declares fewer parameters). 0 with the error code set.
int Kestrin::PassExternalArgument(ExternalCall& call, const ValueRec* v, const VarRec* decl)
{
    CCallThunk& t = call.thunk;
    auto added = [this](bool ok) {
        if (!ok) errorCode = 57;   // more than the slots a call can take
        return ok ? 1 : 0;
    };
    int declType = decl ? decl->type : -1;
    uint32_t slot = 0;
    switch (v->type) {
    case T_STRING:
        if (declType != T_STRING) break;
        if (!SlotOf(v->text, &slot)) return 0;
        return added(t.Add(slot, SLOT_UNSIGNED));
    case T_INT: case T_FLOAT: case T_WORD: case T_DOUBLE: case T_INT64: case T_UINT64: case T_UINT:
        if (declType == T_POINTER) {
            if (!v->var || !v->elem) break;
            if (!SlotOf(v->elem, &slot)) return 0;
            return added(t.Add(slot, SLOT_UNSIGNED));
        }
        if (declType != T_INT && declType != T_FLOAT && declType != T_DOUBLE && declType != T_WORD
            && declType != T_UINT)
            break;
        if (decl->borrowed) {   // an array parameter takes the array's storage
            if (!v->var || !v->var->indexed || !v->var->base) {
                errorCode = 14;
                return 0;
            }
            if (!SlotOf(v->var->base, &slot)) return 0;
            return added(t.Add(slot, SLOT_UNSIGNED));
        }
        // Numbers are converted to what the parameter reads.
        if (declType == T_FLOAT) return added(t.AddFloat(v->type == T_FLOAT ? v->f : (float)NumberAsDouble(v)));
        if (declType == T_DOUBLE) return added(t.AddDouble(NumberAsDouble(v)));
        return added(t.Add((uint32_t)v->i, declType == T_INT ? SLOT_SIGNED : SLOT_UNSIGNED));
    case T_WINDOW:
    case T_DIALOG:
        if (declType != T_INT && declType != v->type) break;
        // A variable without an open window passes the null handle.
        if (CKestrinWnd* w = KnownWindowObject(v->handle)) slot = WindowObjectHandle(w);
        return added(t.Add(slot, SLOT_UNSIGNED));
    case T_MEMORY:
        if (declType != T_MEMORY && declType != T_POINTER) break;
        return added(t.Add(v->handle, SLOT_UNSIGNED));
    case T_POINTER:
        if (declType != T_POINTER) break;
        return added(t.Add(v->handle, SLOT_UNSIGNED));
    case T_USER_0:
        return PassStructure(call, v);
    default:
        break;
    }
    errorCode = 57;
    return 0;
}

// Stores the function's result by the declared return type. CHAR and WORD results
// are handed back as INT (the value is in SYSTEM_INT0, cut to the type's width), an
// ISTRING as a STRING; types without a result variable store nothing.
void Kestrin::StoreExternalResult(StmtRec* s, int returnType, uint64_t value, float f, double d)
{
    s->resultType = returnType;
    uint32_t low = (uint32_t)value;
    switch (returnType) {
    case T_STRING:
    case T_ISTRING: {
        s->resultType = T_STRING;
        char* dest = sysString ? StorageStart(sysString) : nullptr;
        size_t room = dest ? StorageBytes(sysString) : 0;
        if (room == 0) return;
        if (room > (size_t)RESULT_STRING_SIZE + 1) room = (size_t)RESULT_STRING_SIZE + 1;
        // All of RAX on the 64-bit build: the text is the library's, at any address.
        const char* text = (const char*)(uintptr_t)value;
        size_t n = text ? strnlen(text, room - 1) : 0;
        if (n) memcpy(dest, text, n);
        dest[n] = 0;
        break;
    }
    case T_CHAR:
    case T_WORD:
    case T_INT:
    case T_UINT:
        if (returnType == T_CHAR) low &= 0xFF;
        if (returnType == T_WORD) low &= 0xFFFF;
        if (returnType != T_UINT) s->resultType = T_INT;
        if (sysInt && sysInt->data) memcpy(sysInt->data, &low, 4);
        break;
    case T_FLOAT:
        if (sysFloat && sysFloat->data) memcpy(sysFloat->data, &f, 4);
        break;
    case T_DOUBLE:
        if (sysDouble && sysDouble->data) memcpy(sysDouble->data, &d, 8);
        break;
    case T_INT64:
    case T_UINT64:
        if (sysInt64 && sysInt64->data) memcpy(sysInt64->data, &value, 8);
        break;
    case T_POINTER: {
        uint32_t slot;
        if (!sysPointer || !sysPointer->data || !SlotOf((const void*)(uintptr_t)value, &slot)) return;
        memcpy(sysPointer->data, &slot, 4);
        sysPointer->target = nullptr;
        break;
    }
    default:
        break;
    }
}

StmtRec* Kestrin::CmdCallExternal(StmtRec* s)
{
    if (s->argc < 1) {
        errorCode = 1;
        return nullptr;
    }
    VarRec* label = LookupVariable(s->args[0], nullptr, true);
    if (!label || label->type != T_LABEL_0 || !label->external) {
        errorCode = 14;
        return nullptr;
    }
    if (label->elemLen != 0 && label->elemLen != (int)s->argc - 1) {
        errorCode = 56;
        return nullptr;
    }
    HMODULE module = LoadLibraryA(label->library);
    if (!module) {
        errorCode = 53;
        return nullptr;
    }
    FARPROC proc = GetProcAddress(module, label->data ? label->data : label->name);
    if (!proc) {
        errorCode = 54;
        FreeLibrary(module);
        return nullptr;
    }

    ExternalCall call;
    const VarRec* decl = label->params ? label->params->next : nullptr;
    for (int i = 1; i < (int)s->argc; ++i) {
        ValueRec v;
        if (!FetchArgument(&v, s, i, WANT_ANY)) break;
        if (!PassExternalArgument(call, &v, decl)) break;
        if (decl) decl = decl->next;
    }

    if (!errorCode) {
        int returnType = label->packing;
        ReturnClass rc = returnType == T_FLOAT ? RETURN_FLOAT : returnType == T_DOUBLE ? RETURN_DOUBLE : RETURN_INT;
        CallResult r{};
        if (call.thunk.Invoke((const void*)proc, rc, &r)) StoreExternalResult(s, returnType, r.value, r.f, r.d);
        else errorCode = 57;
    }

    for (int i = 0; i < call.copyCount; ++i) {
        ExternalCall::Copy& c = call.copies[i];
        uint8_t saved = errorCode;
        StructLayout(c.header, c.packing, c.block + 8, c.size, true);
        errorCode = saved;
        free(c.block);
    }
    FreeLibrary(module);
    return errorCode ? nullptr : s;
}

StmtRec* Kestrin::CmdFreeLibrary(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_STRING) || !v.text) return nullptr;
    const char* name = v.text;
    if (*name == '!') ++name;   // written as in the declaration of a cdecl function
    if (HMODULE module = GetModuleHandleA(name)) FreeLibrary(module);
    return s;
}
