// Declarations (commands 21, 74, 123, 216), user types and whole-structure operations.
#include "interp/Kestrin.h"
#include "values/ValueText.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace kv;

namespace {

const int TYPE_NAME_MAX = 16;     // significant characters of a user type name
const int MAX_TYPE_NESTING = 32;  // structures inside structures; deeper means a type contains itself
const int DEFAULT_PACKING = 8;

// Copies the type text after a ":" (blanks skipped, cut at a blank or tab).
void TypeText(const char* afterColon, char* out, size_t size)
{
    const char* p = SkipBlanks(afterColon);
    size_t n = 0;
    while (p[n] && !IsBlank(p[n]) && n + 1 < size) {
        out[n] = p[n];
        ++n;
    }
    out[n] = 0;
}

bool WordIs(const char* p, size_t len, const char* word)
{
    size_t i = 0;
    for (; i < len && word[i]; ++i)
        if (Lower((unsigned char)p[i]) != Lower((unsigned char)word[i])) return false;
    return i == len && word[i] == 0;
}

// Storage of a member for the whole-structure operations; data goes back to base.
char* MemberStorage(VarRec* m, size_t* bytes)
{
    if (m->indexed) {
        m->data = m->base;
        if (m->type == T_STRING && m->elemLen == 1) m->capacity = m->dims[0];
    }
    char* start = m->indexed ? m->base : m->data;
    *bytes = start ? (size_t)m->count * (size_t)Kestrin::ElementSize(m->type) : 0;
    return start;
}

inline VarRec* Instance(const char* start, uint32_t i)
{
    return (VarRec*)SlotToPtr(ReadU32(start + 4 * (size_t)i));
}

inline uint32_t InstanceCount(const VarRec* m, size_t bytes)
{
    size_t n = bytes / 4;
    return n < m->count ? (uint32_t)n : m->count;
}

int SizeOf(VarRec* header)
{
    if (!header) return 0;
    int64_t total = 0;
    for (VarRec* m = header->next; m; m = m->next) {
        size_t bytes;
        char* start = MemberStorage(m, &bytes);
        if (m->type == T_USER_0) {
            for (uint32_t i = 0; start && i < InstanceCount(m, bytes); ++i) total += SizeOf(Instance(start, i));
        } else {
            total += (int64_t)bytes;
        }
    }
    return total > 0x7FFFFFFF ? 0x7FFFFFFF : (int)total;
}

char* Flatten(char* dest, VarRec* header, bool restore)
{
    if (!header || !dest) return dest;
    for (VarRec* m = header->next; m; m = m->next) {
        size_t bytes;
        char* start = MemberStorage(m, &bytes);
        if (!start) continue;
        if (m->type == T_USER_0) {
            for (uint32_t i = 0; i < InstanceCount(m, bytes); ++i) dest = Flatten(dest, Instance(start, i), restore);
        } else {
            if (restore) memcpy(start, dest, bytes);
            else memcpy(dest, start, bytes);
            dest += bytes;
        }
    }
    return dest;
}

void WriteMembers(FILE* fp, VarRec* header)
{
    if (!header) return;
    for (VarRec* m = header->next; m; m = m->next) {
        size_t bytes;
        char* start = MemberStorage(m, &bytes);
        if (!start) continue;
        if (m->type == T_USER_0) {
            for (uint32_t i = 0; i < InstanceCount(m, bytes); ++i) WriteMembers(fp, Instance(start, i));
        } else if (bytes) {
            fwrite(start, 1, bytes, fp);
        }
    }
}

// False once a block read returned nothing.
bool ReadMembers(FILE* fp, VarRec* header)
{
    if (!header) return true;
    for (VarRec* m = header->next; m; m = m->next) {
        size_t bytes;
        char* start = MemberStorage(m, &bytes);
        if (!start) continue;
        if (m->type == T_USER_0) {
            for (uint32_t i = 0; i < InstanceCount(m, bytes); ++i)
                if (!ReadMembers(fp, Instance(start, i))) return false;
        } else if (bytes) {
            if (fread(start, 1, bytes, fp) == 0) return false;
        }
    }
    return true;
}

}

// ---- user types ----------------------------------------------------------------------

TypeDef* Kestrin::FindType(const char* name)
{
    if (!name) return nullptr;
    name = SkipBlanks(name);
    size_t len = 0;
    while (name[len] && !IsBlank(name[len])) ++len;
    if (len > (size_t)TYPE_NAME_MAX) len = TYPE_NAME_MAX;
    if (len == 0) return nullptr;
    for (TypeDef* t = typeList; t; t = t->next)
        if (WordIs(name, len, t->name)) return t;
    return nullptr;
}

StmtRec* Kestrin::CmdType(StmtRec* s)
{
    if (s->argc < 1 || s->argc > 2) {
        errorCode = 1;
        return nullptr;
    }
    uint32_t end = 0;
    bool found = false;
    for (uint32_t line = currentLine + 1; line < lineCount; ++line) {
        const char* p = SkipBlanks((const char*)lineTable[line]);
        if ((unsigned char)p[0] == 0xFF) {
            unsigned char hi = (unsigned char)p[1], lo = hi ? (unsigned char)p[2] : 0;
            if (hi < 0xE0 || lo < 0xE0) continue;
            int command = (hi - 0xE0) * 16 + (lo - 0xE0);
            if (command == 75) {
                end = line;
                found = true;
                break;
            }
            if (command == 74) break;
            continue;
        }
        size_t len = 0;
        while (p[len] && !strchr(" =(\"\t", p[len])) ++len;
        if (WordIs(p, len, "ENDTYPE")) {
            end = line;
            found = true;
            break;
        }
        if (WordIs(p, len, "TYPE")) break;
    }
    if (!found) {
        errorCode = 47;
        return nullptr;
    }
    int packing = DEFAULT_PACKING;
    if (s->argc == 2) {
        ValueRec v;
        if (!FetchArgument(&v, s, 1, T_INT)) return nullptr;
        packing = v.i;
    }
    TypeDef* t = (TypeDef*)calloc(1, sizeof(TypeDef));
    if (!t) {
        errorCode = 2;
        return nullptr;
    }
    const char* name = SkipBlanks(s->args[0]);
    size_t len = strlen(name);
    while (len && IsBlank(name[len - 1])) --len;
    if (len > (size_t)TYPE_NAME_MAX) len = TYPE_NAME_MAX;
    memcpy(t->name, name, len);
    t->name[len] = 0;
    t->firstLine = currentLine + 1;
    t->lastLine = end - 1;
    t->packing = packing;
    if (!typeList) {
        typeList = t;
    } else {
        TypeDef* last = typeList;
        while (last->next) last = last->next;
        last->next = t;
        t->prev = last;
    }
    currentLine = end;
    return s;
}

// Parses the member lines of a type into rec and declares them in the instance's chain.
int Kestrin::DeclareMembers(VarRec* header, TypeDef* type, StmtRec* rec, int depth)
{
    for (uint32_t line = type->firstLine; line <= type->lastLine && line < lineCount; ++line) {
        char* text = lineTable[line];
        if (!text[0]) continue;
        if (ParseLine(rec, text) != 0) return 0;
        if (rec->command != 21 || rec->argc == 0) {
            errorCode = 1;
            return 0;
        }
        if (!DefineNames(rec, header, depth + 1)) return 0;
    }
    return 1;
}

// One instance (a scope header with the members) per element of the USER_0 variable v.
int Kestrin::BuildInstances(VarRec* v, TypeDef* type, int depth)
{
    if (depth > MAX_TYPE_NESTING) {   // the type contains itself
        errorCode = 2;
        return 0;
    }
    char* start = StorageStart(v);
    size_t bytes = StorageBytes(v);
    uint64_t instances = 1;
    for (int d = 0; d < 3; ++d)
        if (v->dims[d] > 0) instances *= (uint64_t)v->dims[d];
    if (!start || instances * 4 > bytes) {
        errorCode = 2;
        return 0;
    }
    StmtRec* rec = NewStatementRecord(MAX_ARGS);
    if (!rec) {
        errorCode = 2;
        return 0;
    }
    int ok = 1;
    for (uint64_t i = 0; ok && i < instances; ++i) {
        VarRec* header = (VarRec*)calloc(1, sizeof(VarRec));
        uint32_t slot = 0;
        if (!header || !SlotOf(header, &slot)) {
            free(header);
            errorCode = 2;
            ok = 0;
            break;
        }
        WriteU32(start + 4 * i, slot);
        ok = DeclareMembers(header, type, rec, depth);
    }
    FreeStatementRecord(rec);
    return ok;
}

// The names of a declaration, typed by the text after the last argument's ":".
int Kestrin::DefineNames(StmtRec* s, VarRec* chain, int depth)
{
    if (s->argc == 0) {
        errorCode = 1;
        return 0;
    }
    char* lastColon = strchr(s->args[s->argc - 1], ':');
    if (!lastColon) {
        errorCode = 1;
        return 0;
    }
    char typeText[VAR_NAME_SIZE];
    TypeText(lastColon + 1, typeText, sizeof typeText);
    int code = TypeCodeByName(typeText);
    TypeDef* type = nullptr;
    if (code < 0) {
        type = FindType(typeText);
        if (!type) {
            errorCode = 55;
            return 0;
        }
    }
    for (int i = 0; i < (int)s->argc; ++i) {
        CutMark cut;
        char* colon = strchr(s->args[i], ':');
        if (colon) cut.Cut(colon);
        VarRec* v = CreateVariable(s->args[i], type ? T_USER_0 : code, 1, chain);
        if (!v) return 0;
        if (type) {
            v->packing = type->packing;
            if (!BuildInstances(v, type, depth)) return 0;
        }
    }
    return 1;
}

StmtRec* Kestrin::CmdDefine(StmtRec* s)
{
    return DefineNames(s, nullptr, 0) ? s : nullptr;
}

StmtRec* Kestrin::CmdConst(StmtRec* s)
{
    if (s->argc == 0) {
        errorCode = 56;
        return nullptr;
    }
    StmtRec* rec = NewStatementRecord(MAX_ARGS);
    if (!rec) {
        errorCode = 2;
        return nullptr;
    }
    bool ok = true;
    for (int i = 0; ok && i < (int)s->argc; ++i) {
        char line[ARG_TEXT_SIZE];
        snprintf(line, sizeof line, "%s", SkipBlanks(s->args[i]));
        if (!strchr(line, '=') || (unsigned char)line[0] == 0xFF) {
            errorCode = 1;
            ok = false;
            break;
        }
        if (ParseLine(rec, line) != 0 || rec->command != 20) {
            if (!errorCode) errorCode = 1;
            ok = false;
            break;
        }
        if (!CmdAssign(rec)) {
            if (!errorCode) errorCode = 11;
            ok = false;
            break;
        }
        VarRec* v = LookupVariable(rec->args[0], nullptr, false);
        if (!v) {
            ok = false;
            break;
        }
        v->constant = 1;
    }
    FreeStatementRecord(rec);
    return ok && !errorCode ? s : nullptr;
}

StmtRec* Kestrin::CmdNew(StmtRec* s)
{
    if (s->argc != 2) {
        errorCode = 56;
        return nullptr;
    }
    char typeText[VAR_NAME_SIZE];
    TypeText(s->args[0], typeText, sizeof typeText);
    ValueRec v;
    if (!FetchArgument(&v, s, 1, WANT_NUMBER)) return nullptr;
    int count = v.i;

    int code = TypeCodeByName(typeText);
    if ((unsigned char)typeText[0] == 0xFF && (unsigned char)typeText[1] == 0xE6 &&
        (unsigned char)typeText[2] == 0xEB)
        code = T_INT;
    TypeDef* type = code < 0 ? FindType(typeText) : nullptr;

    char name[VAR_NAME_SIZE];
    if (count <= 1) snprintf(name, sizeof name, "temp");
    else snprintf(name, sizeof name, "temp[%d]", count);

    VarRec head;
    memset(&head, 0, sizeof head);
    VarRec* r = nullptr;
    if (code >= 0) {
        r = CreateVariable(name, code, 1, &head);
    } else if (type) {
        r = CreateVariable(name, T_USER_0, 1, &head);
        if (r) {
            r->packing = type->packing;
            BuildInstances(r, type, 0);
        }
    }
    if (errorCode) {
        if (r) {
            head.next = nullptr;
            r->prev = nullptr;
            FreeChain(r, false);
        }
        return nullptr;
    }
    if (!sysPointer || !sysPointer->data) {
        errorCode = 2;
        return nullptr;
    }
    if (r) {
        head.next = nullptr;
        r->prev = nullptr;
        r->next = nullptr;
        char* start = StorageStart(r);
        if (start) {
            uint32_t slot;
            if (!SlotOf(start, &slot)) {
                FreeChain(r, false);
                return nullptr;
            }
            WriteU32(sysPointer->data, slot);
        }
    }
    sysPointer->target = r;
    s->resultType = T_POINTER;
    return s;
}

// ---- whole structures ----------------------------------------------------------------

int Kestrin::StructSize(VarRec* header)
{
    return SizeOf(header);
}

char* Kestrin::StructFlatten(char* dest, VarRec* header)
{
    return Flatten(dest, header, false);
}

char* Kestrin::StructRestore(char* src, VarRec* header)
{
    return Flatten(src, header, true);
}

void Kestrin::StructWrite(FILE* fp, VarRec* header)
{
    if (fp) WriteMembers(fp, header);
}

void Kestrin::StructRead(FILE* fp, VarRec* header)
{
    if (fp) ReadMembers(fp, header);
}

int Kestrin::CopyStruct(VarRec* dest, VarRec* src)
{
    if (!dest || !src) {
        errorCode = 11;
        return 0;
    }
    for (VarRec *d = dest->next, *s = src->next; d && s; d = d->next, s = s->next) {
        if (d->type != s->type) {
            errorCode = 11;
            return 0;
        }
        size_t dBytes, sBytes;
        char* dp = MemberStorage(d, &dBytes);
        char* sp = MemberStorage(s, &sBytes);
        if (!dp || !sp) continue;
        switch (d->type) {
        case T_STRING: {
            size_t room = dBytes;
            if (d->capacity > 0 && (size_t)d->capacity < room) room = (size_t)d->capacity;
            if (room == 0) break;
            size_t n = strnlen(sp, sBytes);
            if (n > room - 1) n = room - 1;
            memmove(dp, sp, n);
            dp[n] = 0;
            break;
        }
        case T_DOUBLE:
        case T_INT64:
        case T_UINT64:
            if (dBytes >= 8 && sBytes >= 8) memmove(dp, sp, 8);
            break;
        case T_POINTER:
            if (dBytes >= 4 && sBytes >= 4) memmove(dp, sp, 4);
            d->target = s->target;
            break;
        case T_USER_0: {
            uint32_t n = InstanceCount(d, dBytes), m = InstanceCount(s, sBytes);
            for (uint32_t i = 0; i < n && i < m; ++i)
                if (!CopyStruct(Instance(dp, i), Instance(sp, i))) return 0;
            break;
        }
        case T_CHAR: case T_INT: case T_FLOAT: case T_MEMORY:
        case T_FILE: case T_BFILE: case T_WORD: case T_UINT: {
            size_t n = 4;
            if (dBytes < n) n = dBytes;
            if (sBytes < n) n = sBytes;
            memmove(dp, sp, n);
            break;
        }
        default:
            errorCode = 11;
            return 0;
        }
    }
    return 1;
}
