// Memory blocks, resources of the executable, and the deletion of variables and
// of what pointers point at.
#include "interp/Kestrin.h"
#include "values/ElementBytes.h"
#include <windows.h>
#include <mmsystem.h>
#include <winspool.h>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace {

const int64_t MAX_BLOCK = 0x7FFFFFFF;   // the size is handed back as an INT

inline uint32_t Read32(const char* p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

inline void Write32(char* p, uint32_t v) { memcpy(p, &v, 4); }

inline char* SkipBlanks(char* p)
{
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

// Structure instance held by the current element of a USER_0 variable.
VarRec* InstanceAt(const VarRec* v)
{
    if (!v->data || BytesFromElement(v) < 4) return nullptr;
    return (VarRec*)SlotToPtr(Read32(v->data));
}

// The instance headers of a USER_0 variable's elements.
void Instances(const VarRec* v, std::vector<VarRec*>* out)
{
    if (v->type != T_USER_0) return;
    char* start = Kestrin::StorageStart(v);
    size_t slots = Kestrin::StorageBytes(v) / 4;
    if (v->count < slots) slots = v->count;
    for (size_t i = 0; start && i < slots; ++i) {
        VarRec* h = (VarRec*)SlotToPtr(Read32(start + 4 * i));
        if (h) out->push_back(h);
    }
}

// Types whose storage holds an address or handle that the run-time follows:
// raw bytes from a block must not land there.
bool HoldsHandle(int type)
{
    return type == T_FILE || type == T_BFILE || type == T_WINDOW || type == T_DIALOG ||
           type == T_POINTER || type == T_MEMORY;
}

// Ends every string element of a STRING variable within its storage; recurses
// into the members of structures.
void TerminateStrings(VarRec* v, int depth)
{
    if (depth > 64) return;
    if (v->type == T_STRING) {
        char* start = Kestrin::StorageStart(v);
        size_t bytes = Kestrin::StorageBytes(v);
        size_t stride = v->elemLen > 1 ? (size_t)v->elemLen : bytes;
        if (!start || stride == 0) return;
        for (size_t p = stride - 1; p < bytes; p += stride) start[p] = 0;
        if (bytes % stride) start[bytes - 1] = 0;
    } else if (v->type == T_USER_0) {
        std::vector<VarRec*> heads;
        Instances(v, &heads);
        for (VarRec* h : heads)
            for (VarRec* m = h->next; m; m = m->next) TerminateStrings(m, depth + 1);
    }
}

// Every record the program can still reach: the lookup chain, the chains saved by
// active calls, the members of structure instances and the records pointers target.
struct RecordWalk {
    std::vector<VarRec*> all;
    std::unordered_set<VarRec*> seen;
    std::unordered_set<VarRec*> chained;   // records that sit in a chain

    void Chain(VarRec* first)
    {
        for (VarRec* r = first; r; r = r->next) {
            if (chained.count(r)) break;   // the rest of this chain is known
            chained.insert(r);
            if (seen.insert(r).second) all.push_back(r);
        }
    }
    void Single(VarRec* r)
    {
        if (r && seen.insert(r).second) all.push_back(r);
    }
    void Expand()
    {
        for (size_t i = 0; i < all.size(); ++i) {
            VarRec* r = all[i];
            if (r->type == T_USER_0) {
                std::vector<VarRec*> heads;
                Instances(r, &heads);
                for (VarRec* h : heads) Chain(h);
            } else if (r->type == T_POINTER) {
                Single(r->target);
            }
        }
    }
};

// r and, for a structure, the records of all its instances.
void DyingSet(VarRec* r, std::vector<VarRec*>* out, std::unordered_set<VarRec*>* set)
{
    out->push_back(r);
    set->insert(r);
    for (size_t i = 0; i < out->size(); ++i) {
        std::vector<VarRec*> heads;
        Instances((*out)[i], &heads);
        for (VarRec* h : heads)
            for (VarRec* m = h; m; m = m->next)
                if (set->insert(m).second) out->push_back(m);
    }
}

// Records the block size of a MEMORY element in its variable and in every other
// record that shares the element (a parameter and the caller's variable).
void SetRecordedSize(Kestrin& k, VarRec* v, const char* elem, int size)
{
    v->packing = size;
    RecordWalk walk;
    walk.Chain(&k.stdoutRec);
    for (VarRec* c : k.scopeStack) walk.Chain(c);
    walk.Expand();
    for (VarRec* x : walk.all)
        if (x->type == T_MEMORY && x->data == elem) x->packing = size;
}

struct Span {
    const char* from;
    const char* to;
    bool Holds(const void* p) const { return (const char*)p >= from && (const char*)p < to; }
};

}

// ---- block table ---------------------------------------------------------------------

Kestrin::SysmemTables::~SysmemTables()
{
    if (soundBlock) PlaySoundA(nullptr, nullptr, 0);
    for (void* h : printers) {
        EndPagePrinter((HANDLE)h);
        EndDocPrinter((HANDLE)h);
        ClosePrinter((HANDLE)h);
    }
    for (const Block& b : blocks) free(SlotToPtr(b.slot));
}

Kestrin::SysmemTables::Block* Kestrin::KnownBlock(uint32_t slot)
{
    if (!slot) return nullptr;
    for (SysmemTables::Block& b : sysmem.blocks)
        if (b.slot == slot) return &b;
    return nullptr;
}

// A zero-filled block of size bytes (at least one is allocated) that starts with
// copy bytes of from. Error 2 when its address does not fit a slot.
uint32_t Kestrin::NewBlock(size_t size, const void* from, size_t copy)
{
    char* p = (char*)calloc(size ? size : 1, 1);
    if (!p) return 0;
    uint32_t slot;
    if (!SlotOf(p, &slot) || slot == 0) {
        free(p);
        if (!errorCode) errorCode = 2;
        return 0;
    }
    if (copy) memcpy(p, from, copy);
    sysmem.blocks.push_back({slot, size});
    return slot;
}

void Kestrin::FreeBlock(uint32_t slot)
{
    for (size_t i = 0; i < sysmem.blocks.size(); ++i) {
        if (sysmem.blocks[i].slot != slot) continue;
        if (sysmem.soundBlock == slot) {
            // The sound may still be playing from this block.
            PlaySoundA(nullptr, nullptr, 0);
            sysmem.soundBlock = 0;
        }
        free(SlotToPtr(slot));
        sysmem.blocks.erase(sysmem.blocks.begin() + (long)i);
        return;
    }
}

// A MEMORY variable whose current element can take an address.
ValueRec* Kestrin::FetchMemory(ValueRec* v, StmtRec* s, int index)
{
    if (!FetchArgument(v, s, index, T_MEMORY)) return nullptr;
    if (!v->var || !v->elem || BytesFromElement(v->var) < 4) {
        errorCode = 14;
        return nullptr;
    }
    return v;
}

StmtRec* Kestrin::SysIntResult(StmtRec* s, int32_t value)
{
    if (!sysInt || !sysInt->data) {
        errorCode = 2;
        return nullptr;
    }
    memcpy(sysInt->data, &value, 4);
    s->resultType = T_INT;
    return s;
}

// ---- memory commands -----------------------------------------------------------------

StmtRec* Kestrin::CmdAllocMem(StmtRec* s)
{
    if (s->argc != 3) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec m, count, size;
    if (!FetchMemory(&m, s, 0) || !FetchArgument(&count, s, 1, WANT_NUMBER) ||
        !FetchArgument(&size, s, 2, WANT_NUMBER))
        return nullptr;
    int64_t bytes = (int64_t)count.i * (int64_t)size.i;
    if (count.i < 0 || size.i < 0 || bytes > MAX_BLOCK) {
        errorCode = 7;
        return nullptr;
    }
    uint32_t old = Read32(m.elem);
    SysmemTables::Block* b = KnownBlock(old);
    size_t keep = b ? (b->size < (size_t)bytes ? b->size : (size_t)bytes) : 0;
    // A new block first: when it cannot be made the old one is still intact.
    uint32_t slot = NewBlock((size_t)bytes, b ? SlotToPtr(old) : nullptr, keep);
    if (!slot) {
        if (errorCode) return nullptr;
        if (!b) {
            Write32(m.elem, 0);
            SetRecordedSize(*this, m.var, m.elem, 0);
        }
        return SysIntResult(s, -1);
    }
    if (b) FreeBlock(old);
    Write32(m.elem, slot);
    SetRecordedSize(*this, m.var, m.elem, (int)bytes);
    return SysIntResult(s, (int32_t)bytes);
}

StmtRec* Kestrin::CmdFreeMem(StmtRec* s)
{
    if (s->argc != 1) return s;
    ValueRec m;
    if (!FetchMemory(&m, s, 0)) return nullptr;
    // Only blocks of ours are freed; any other address is simply forgotten.
    FreeBlock(Read32(m.elem));
    Write32(m.elem, 0);
    SetRecordedSize(*this, m.var, m.elem, 0);
    return s;
}

StmtRec* Kestrin::TransferRecord(StmtRec* s, bool write)
{
    if (s->argc != 3 && s->argc != 4) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec m, rec, off;
    if (!FetchMemory(&m, s, 0)) return nullptr;
    uint32_t slot = Read32(m.elem);
    if (!slot) return s;   // no block
    if (!FetchArgument(&rec, s, 1, WANT_NUMBER)) return nullptr;
    if (rec.i < 1) {
        errorCode = 7;
        return nullptr;
    }
    VarRec* v = LookupVariable(SkipBlanks(s->args[2]), nullptr, false);
    if (!v) {
        if (!errorCode) errorCode = 10;
        return nullptr;
    }
    int64_t offset = 0;
    if (s->argc == 4) {
        if (!FetchArgument(&off, s, 3, WANT_NUMBER)) return nullptr;
        offset = off.i;
    }
    SysmemTables::Block* b = KnownBlock(slot);
    if (!b) {
        errorCode = 7;   // an address that is no block of ours cannot be bounded
        return nullptr;
    }
    if (!write) {
        if (HoldsHandle(v->type)) {
            errorCode = 14;
            return nullptr;
        }
        if (v->constant) {
            errorCode = 58;
            return nullptr;
        }
    }

    VarRec* header = nullptr;
    int64_t size;
    if (v->type == T_USER_0) {
        header = InstanceAt(v);
        size = header ? StructSize(header) : 0;
    } else {
        size = (int64_t)BytesFromElement(v);
    }
    int64_t recorded = m.var->packing > 0 ? m.var->packing : 0;
    int64_t bound = write ? (int64_t)b->size : recorded;
    if (!write && v->type == T_USER_0 && recorded == 0) bound = (int64_t)b->size;
    int64_t at = ((int64_t)rec.i - 1) * size + offset;
    if ((int64_t)rec.i * size > bound || at < 0 || at + size > (int64_t)b->size) {
        errorCode = 7;
        return nullptr;
    }
    if (size == 0) return s;
    char* p = (char*)SlotToPtr(slot) + at;
    if (header) {
        if (write) StructFlatten(p, header);
        else StructRestore(p, header);
    } else if (write) {
        memcpy(p, v->data, (size_t)size);
    } else {
        memcpy(v->data, p, (size_t)size);
    }
    if (!write) TerminateStrings(v, 0);
    return s;
}

StmtRec* Kestrin::CmdReadMem(StmtRec* s) { return TransferRecord(s, false); }

StmtRec* Kestrin::CmdWriteMem(StmtRec* s) { return TransferRecord(s, true); }

// ---- resources -----------------------------------------------------------------------

namespace {

// A resource name or type: a text, or a number whose low 16 bits are the id.
bool ResourceKey(const ValueRec& v, std::string* text, uint16_t* id)
{
    switch (v.type) {
    case T_STRING:
        text->assign(v.text ? v.text : "");
        return true;
    case T_INT: case T_FLOAT: case T_WORD: case T_DOUBLE:
    case T_INT64: case T_UINT64: case T_UINT:
        *id = (uint16_t)v.i;
        return true;
    default:
        return false;
    }
}

}

StmtRec* Kestrin::CmdLoadResource(StmtRec* s)
{
    if (s->argc != 3) {
        errorCode = 56;
        return nullptr;
    }
    std::string nameText, typeText;
    uint16_t nameId = 0, typeId = 0;
    bool byName = false, byType = false;
    for (int i = 0; i < 2; ++i) {
        ValueRec v;
        if (!FetchArgument(&v, s, i, WANT_ANY)) return nullptr;
        std::string* text = i == 0 ? &nameText : &typeText;
        uint16_t* id = i == 0 ? &nameId : &typeId;
        if (!ResourceKey(v, text, id)) {
            errorCode = 14;
            return nullptr;
        }
        (i == 0 ? byName : byType) = v.type == T_STRING;
    }
    LPCSTR name = byName ? nameText.c_str() : MAKEINTRESOURCEA(nameId);
    LPCSTR type = byType ? typeText.c_str() : MAKEINTRESOURCEA(typeId);
    HRSRC res = FindResourceA(nullptr, name, type);
    if (!res) return SysIntResult(s, 0);
    DWORD size = SizeofResource(nullptr, res);
    HGLOBAL loaded = LoadResource(nullptr, res);
    const char* data = loaded ? (const char*)LockResource(loaded) : nullptr;
    if (!data) return SysIntResult(s, 0);

    ValueRec t;
    if (!FetchArgument(&t, s, 2, WANT_ANY)) return nullptr;
    VarRec* v = t.var;
    if (!v) {
        errorCode = 1;
        return nullptr;
    }
    int stored = 0;
    size_t room = BytesFromElement(v);
    switch (v->type) {
    case T_STRING: {
        if (!v->data || room == 0 || v->capacity < 1) break;
        int64_t n = (int64_t)v->capacity - 2;
        if (n > (int64_t)size) n = size;
        if (n > (int64_t)room - 1) n = (int64_t)room - 1;
        if (n < 0) n = 0;
        memcpy(v->data, data, (size_t)n);
        v->data[n] = 0;
        stored = 1;
        break;
    }
    case T_INT: {
        uint32_t slot;
        if (room < 4) break;
        if (!SlotOf(data, &slot)) return nullptr;
        Write32(v->data, slot);
        stored = 1;
        break;
    }
    case T_MEMORY: {
        if (room < 4) break;
        uint32_t slot = NewBlock((size_t)size + 1, data, size);
        if (!slot) {
            if (errorCode) return nullptr;
            break;
        }
        FreeBlock(Read32(v->data));
        Write32(v->data, slot);
        SetRecordedSize(*this, v, v->data, (int)size);
        stored = 1;
        break;
    }
    default:
        break;
    }
    return SysIntResult(s, stored);
}

// ---- variables and pointers ----------------------------------------------------------

// Deletes a variable record: refuses what must stay, clears the pointers that
// target what goes, unlinks r from its chain and releases it as the end of its
// scope would. holder, when given, is the POINTER whose target r is.
int Kestrin::DeleteRecord(VarRec* r, VarRec* holder)
{
    // Parameters and scope headers belong to the call that made them; a label
    // carries the frame flag only for its parameter list.
    bool frame = r->frame && r->type != T_LABEL_0;
    if (r->builtin || frame || r == sysString || r == sysInt || r == sysFloat ||
        r == sysDouble || r == sysPointer || r == sysInt64) {
        errorCode = 21;
        return 0;
    }
    std::vector<VarRec*> dying;
    std::unordered_set<VarRec*> dyingSet;
    DyingSet(r, &dying, &dyingSet);

    std::vector<Span> spans;
    for (VarRec* d : dying) {
        if ((d->type == T_WINDOW || d->type == T_DIALOG) && !d->borrowed) {
            char* start = StorageStart(d);
            size_t bytes = StorageBytes(d);
            for (size_t off = 0; start && off + 4 <= bytes; off += 4)
                if (KnownWindowObject(Read32(start + off))) {
                    errorCode = 22;
                    return 0;
                }
        }
        char* start = StorageStart(d);
        if (start && !d->borrowed) spans.push_back({start, start + StorageBytes(d)});
    }

    RecordWalk walk;
    walk.Chain(&stdoutRec);
    for (VarRec* c : scopeStack) walk.Chain(c);
    walk.Expand();

    // Storage that a live parameter shares must stay.
    for (VarRec* x : walk.all) {
        if (!x->borrowed || dyingSet.count(x)) continue;
        for (const Span& sp : spans)
            if ((x->data && sp.Holds(x->data)) || (x->base && sp.Holds(x->base))) {
                errorCode = 21;
                return 0;
            }
    }

    // Pointers to what goes point at nothing from now on.
    for (VarRec* x : walk.all) {
        if (x->type != T_POINTER || dyingSet.count(x) || !dyingSet.count(x->target)) continue;
        x->target = nullptr;
        char* start = StorageStart(x);
        size_t bytes = StorageBytes(x);
        for (size_t off = 0; start && off + 4 <= bytes; off += 4) {
            const void* p = SlotToPtr(Read32(start + off));
            for (const Span& sp : spans)
                if (sp.Holds(p)) {
                    Write32(start + off, 0);
                    break;
                }
        }
    }
    if (holder && !dyingSet.count(holder)) {
        holder->target = nullptr;
        if (holder->data && BytesFromElement(holder) >= 4) Write32(holder->data, 0);
    }

    if (walk.chained.count(r)) {
        VarRec* prev = r->prev;
        VarRec* next = r->next;
        if (decimalPrecRec.next == r) decimalPrecRec.next = next;
        for (VarRec*& c : scopeStack)
            if (c == r) c = next;
        if (prev && prev->next == r) prev->next = next;
        if (next && next->prev == r) next->prev = prev;
        if (lastGlobal == r) lastGlobal = prev ? prev : &decimalPrecRec;
    } else if (lastGlobal == r) {
        lastGlobal = &decimalPrecRec;
    }
    r->prev = nullptr;
    r->next = nullptr;
    FreeChain(r, false);
    return 1;
}

StmtRec* Kestrin::CmdDeleteVariable(StmtRec* s)
{
    if (s->argc == 0) {
        errorCode = 56;
        return nullptr;
    }
    for (int i = 0; i < s->argc; ++i) {
        VarRec* r = LookupVariable(SkipBlanks(s->args[i]), nullptr, false);
        if (!r) {
            if (!errorCode) errorCode = 10;
            return nullptr;
        }
        if (!DeleteRecord(r, nullptr)) return nullptr;
    }
    return s;
}

StmtRec* Kestrin::CmdDelete(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec p;
    if (!FetchArgument(&p, s, 0, T_POINTER)) return nullptr;
    if (!p.var || !p.var->target) return s;
    return DeleteRecord(p.var->target, p.var) ? s : nullptr;
}

StmtRec* Kestrin::CmdPointerType(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec p;
    if (!FetchArgument(&p, s, 0, T_POINTER)) return nullptr;
    VarRec* t = p.var ? p.var->target : nullptr;
    return SysIntResult(s, t ? (int32_t)t->type : -1);
}

StmtRec* Kestrin::CmdIsArray(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, WANT_ANY)) return nullptr;
    VarRec* r = v.var;
    if (r && r->type == T_POINTER && r->target) r = r->target;
    return SysIntResult(s, r && r->indexed ? 1 : 0);
}
