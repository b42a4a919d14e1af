// Text and binary files: open, close, read, write, end test, position and records.
#include "interp/Kestrin.h"
#include "values/ElementBytes.h"
#include <cctype>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

namespace {

const int32_t IO_OK = 0;
const int32_t IO_OPEN_READ_FAILED = 205;
const int32_t IO_OPEN_WRITE_FAILED = 206;
const int32_t IO_OPEN_APPEND_FAILED = 207;
const int32_t IO_NOTHING_READ = 999;

inline bool IsFileType(int t) { return t == T_FILE || t == T_BFILE; }

// Reads one value of type T with the given scanf format; on success stores its
// bytes at dst. Returns what fscanf returned.
template <typename T>
int ScanInto(FILE* fp, const char* format, char* dst)
{
    T x;
    int got = fscanf(fp, format, &x);
    if (got == 1) memcpy(dst, &x, sizeof x);
    return got;
}

// The open stream a FILE or BFILE slot refers to: one of the interpreter's
// standard streams or a stream it opened; null for 0 or any other number.
FILE* StreamOf(Kestrin& k, uint32_t slot)
{
    if (!slot) return nullptr;
    uint32_t std;
    if (PtrToSlot(&k.stdinStream, &std) && slot == std) return k.stdinStream.fp;
    if (PtrToSlot(&k.stdoutStream, &std) && slot == std) return k.stdoutStream.fp;
    KStream* ks = k.KnownStream(slot);
    return ks ? ks->fp : nullptr;
}

// First 32-bit word of the current element (a stream, block or instance slot);
// only the bytes the element really has are read.
uint32_t SlotWord(const VarRec* v, const char* elem)
{
    uint32_t slot = 0;
    if (!v || !elem) return 0;
    size_t n = (size_t)Kestrin::ElementSize(v->type);
    if (n > sizeof slot) n = sizeof slot;
    memcpy(&slot, elem, n);
    return slot;
}

// Types whose storage holds an object address the run-time follows: raw bytes
// from a file must not land there.
bool HoldsObjectAddress(int type)
{
    return type == T_FILE || type == T_BFILE || type == T_WINDOW || type == T_DIALOG ||
           type == T_POINTER;
}

// Puts a terminator at the last byte of every string element inside [from, from + len).
void TerminateStrings(const VarRec* v, char* from, size_t len)
{
    const char* start = Kestrin::StorageStart(v);
    size_t stride = v->elemLen > 1 ? (size_t)v->elemLen : Kestrin::StorageBytes(v);
    if (!start || stride == 0 || from < start) return;
    size_t off = (size_t)(from - start);
    size_t first = (off / stride) * stride + stride - 1;   // last byte of the element at `from`
    for (size_t p = first; p < off + len; p += stride) ((char*)start)[p] = 0;
}

}

// Where a variable's byte image lives: a flat span, or a structure instance.
// A MEMORY image is the block, and only a block the memory commands made.
void Kestrin::FileImage(VarRec* v, char** start, size_t* len, VarRec** header)
{
    *start = nullptr;
    *len = 0;
    *header = nullptr;
    if (!v || !v->data) return;
    if (v->type == T_USER_0 || v->type == T_MEMORY) {
        if (BytesFromElement(v) < sizeof(uint32_t)) return;
        uint32_t slot;
        memcpy(&slot, v->data, sizeof slot);
        if (v->type == T_USER_0) {
            *header = (VarRec*)SlotToPtr(slot);
            if (*header) {
                int n = StructSize(*header);
                *len = n > 0 ? (size_t)n : 0;
            }
        } else if (SysmemTables::Block* b = KnownBlock(slot)) {
            // The recorded size, else the allocation's own; never beyond the allocation.
            size_t n = b->size;
            if (v->packing > 0 && (size_t)v->packing < n) n = (size_t)v->packing;
            *start = (char*)SlotToPtr(slot);
            *len = n;
        }
        return;
    }
    *start = v->data;
    *len = BytesFromElement(v);
}

VarRec* Kestrin::FileLookup(StmtRec* s, int index)
{
    if (index >= s->argc) {
        errorCode = 56;
        return nullptr;
    }
    char* name = s->args[index];
    while (*name == ' ' || *name == '\t') ++name;
    VarRec* v = LookupVariable(name, nullptr, false);
    if (!v && !errorCode) errorCode = 10;
    return v;
}

void Kestrin::FileResult(StmtRec* s, int32_t code)
{
    constants[CONST_IO_STATUS] = (uint32_t)code;
    if (sysInt && sysInt->data) memcpy(sysInt->data, &code, sizeof code);
    s->resultType = T_INT;
}

void Kestrin::FileDirection(FILE* fp, int op)
{
    for (auto& e : streamDirections) {
        if (e.first != fp) continue;
        // The C library requires a positioning call between a read and a write.
        if (op && e.second && e.second != op) fseek(fp, 0, SEEK_CUR);
        e.second = op;
        return;
    }
    streamDirections.emplace_back(fp, op);
}

void Kestrin::FileForget(FILE* fp)
{
    for (size_t i = 0; i < streamDirections.size(); ++i) {
        if (streamDirections[i].first == fp) {
            streamDirections.erase(streamDirections.begin() + (long)i);
            return;
        }
    }
}

void Kestrin::FileCloseSlot(VarRec* v)
{
    if (BytesFromElement(v) < sizeof(uint32_t)) return;
    uint32_t slot;
    memcpy(&slot, v->data, sizeof slot);
    if (!slot) return;
    // The standard streams belong to the interpreter: they are only detached.
    if (KStream* ks = KnownStream(slot)) {
        if (ks->fp) FileForget(ks->fp);
        CloseStreamSlot(slot);
    }
    slot = 0;
    memcpy(v->data, &slot, sizeof slot);
}

int64_t Kestrin::FileWriteImage(FILE* fp, VarRec* v)
{
    char* start;
    size_t len;
    VarRec* header;
    FileImage(v, &start, &len, &header);
    if (header) {
        int64_t before = _ftelli64(fp);
        StructWrite(fp, header);
        int64_t after = _ftelli64(fp);
        return before >= 0 && after >= before ? after - before : (int64_t)len;
    }
    if (!start || !len) return 0;
    return (int64_t)fwrite(start, 1, len, fp);
}

int64_t Kestrin::FileReadImage(FILE* fp, VarRec* v)
{
    if (HoldsObjectAddress(v->type)) {
        errorCode = 14;
        return -1;
    }
    char* start;
    size_t len;
    VarRec* header;
    FileImage(v, &start, &len, &header);
    if (header) {
        int64_t before = _ftelli64(fp);
        StructRead(fp, header);
        int64_t after = _ftelli64(fp);
        if (before < 0 || after < 0) return feof(fp) ? 0 : (int64_t)len;
        return after - before;
    }
    if (!start || !len) return 0;
    size_t n = fread(start, 1, len, fp);
    if (v->type == T_STRING) TerminateStrings(v, start, len);
    return (int64_t)n;
}

// One line or one value from a text file into v: 0, 999 when nothing could be
// read, -1 with the error code set.
int Kestrin::FileReadText(FILE* fp, VarRec* v)
{
    size_t room = BytesFromElement(v);
    if (v->type == T_STRING) {
        if (v->capacity > 0 && (size_t)v->capacity < room) room = (size_t)v->capacity;
        if (room == 0) {
            errorCode = 65;
            return -1;
        }
        // A line of at most element count - 2 characters, and never beyond the element.
        size_t limit = v->count > 1 ? (size_t)v->count - 1 : 1;
        if (limit > room - 1) limit = room - 1;
        if (limit < 2) {
            // Room for one character at most.
            int c = fgetc(fp);
            if (c == EOF) return IO_NOTHING_READ;
            if (room >= 2) {
                v->data[0] = c == '\n' ? 0 : (char)c;
                v->data[1] = 0;
            } else if (c != '\n') {
                v->data[0] = (char)c;
            }
            return IO_OK;
        }
        if (limit > 0x7FFFFFFF) limit = 0x7FFFFFFF;
        if (!fgets(v->data, (int)limit, fp)) return IO_NOTHING_READ;
        size_t n = strlen(v->data);
        if (n > 0 && v->data[n - 1] == '\n') v->data[n - 1] = 0;
        return IO_OK;
    }

    int size = ElementSize(v->type);
    switch (v->type) {
    case T_CHAR: case T_INT: case T_FLOAT: case T_WORD:
    case T_DOUBLE: case T_INT64: case T_UINT64: case T_UINT:
        break;
    default:
        errorCode = 14;   // handles, labels, structures: no text form to read
        return -1;
    }
    if (size <= 0 || room < (size_t)size) {
        errorCode = 65;
        return -1;
    }
    int got = 0;
    switch (v->type) {
    case T_CHAR: got = ScanInto<unsigned char>(fp, "%c", v->data); break;
    case T_INT: got = ScanInto<int32_t>(fp, "%" SCNd32 " ", v->data); break;
    case T_UINT: got = ScanInto<uint32_t>(fp, "%" SCNu32 " ", v->data); break;
    case T_FLOAT: got = ScanInto<float>(fp, "%f ", v->data); break;
    case T_WORD: got = ScanInto<uint16_t>(fp, "%" SCNu16, v->data); break;
    case T_DOUBLE: got = ScanInto<double>(fp, "%lf", v->data); break;
    case T_INT64: got = ScanInto<int64_t>(fp, "%" SCNd64 " ", v->data); break;
    case T_UINT64: got = ScanInto<uint64_t>(fp, "%" SCNu64 " ", v->data); break;
    default: break;
    }
    return got == 1 ? IO_OK : IO_NOTHING_READ;
}

bool Kestrin::FetchText(StmtRec* s, int index, std::string* out)
{
    ValueRec v;
    if (!FetchArgument(&v, s, index, T_STRING)) return false;
    if (!v.text) {
        out->clear();
    } else if (v.var && v.var->type == T_MEMORY) {
        // A block need not end in NUL; an address that is no block of ours is not followed.
        SysmemTables::Block* b = KnownBlock(v.handle);
        if (b) out->assign(v.text, strnlen(v.text, b->size));
        else out->clear();
    } else {
        out->assign(v.text);
    }
    return true;
}

StmtRec* Kestrin::CmdOpenFile(StmtRec* s)
{
    if (s->argc != 3) {
        errorCode = 1;
        return nullptr;
    }
    ValueRec f;
    if (!FetchArgument(&f, s, 0, WANT_ANY)) return nullptr;
    VarRec* var = f.var;
    if (!var || !IsFileType(var->type) || BytesFromElement(var) < sizeof(uint32_t)) {
        errorCode = 14;
        return nullptr;
    }
    std::string name, mode;
    if (!FetchText(s, 1, &name) || !FetchText(s, 2, &mode)) return nullptr;

    constants[CONST_IO_STATUS] = IO_OK;
    bool binary = var->type == T_BFILE;
    const char* how;
    int32_t failure;
    switch (tolower((unsigned char)(mode.empty() ? 0 : mode[0]))) {
    case 'a':
        how = binary ? "rb+" : "a+";
        failure = IO_OPEN_APPEND_FAILED;
        break;
    case 'r':
        how = binary ? "rb" : "r";
        failure = IO_OPEN_READ_FAILED;
        break;
    case 'w':
        how = binary ? "wb+" : "w+";
        failure = IO_OPEN_WRITE_FAILED;
        break;
    default:
        errorCode = 1;
        return nullptr;
    }

    // A stream still open in the variable is closed first (flushed, not leaked).
    FileCloseSlot(var);

    uint32_t slot = 0;
    int32_t result = IO_OK;
    FILE* fp = fopen(name.c_str(), how);
    if (fp) {
        slot = OpenStreamSlot(fp);
        if (!slot) {
            fclose(fp);
            return nullptr;
        }
        FileForget(fp);   // a stream object of a file closed elsewhere may be reused
    } else {
        result = failure;
    }
    memcpy(var->data, &slot, sizeof slot);
    FileResult(s, result);
    return s;
}

StmtRec* Kestrin::CmdCloseFile(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 1;
        return nullptr;
    }
    VarRec* var = FileLookup(s, 0);
    if (!var) return nullptr;
    if (!IsFileType(var->type)) {
        errorCode = 14;
        return nullptr;
    }
    FileCloseSlot(var);
    return s;
}

StmtRec* Kestrin::CmdReadFile(StmtRec* s)
{
    if (s->argc < 2) {
        errorCode = 1;
        return nullptr;
    }
    VarRec* file = FileLookup(s, 0);
    if (!file) return nullptr;
    char* fileElem = file->data;
    constants[CONST_IO_STATUS] = IO_OK;
    int32_t result = IO_OK;
    for (int i = 1; i < s->argc && result == IO_OK; ++i) {
        VarRec* target = FileLookup(s, i);
        if (!target) return nullptr;
        uint32_t slot = SlotWord(file, fileElem);
        if (!slot) {
            errorCode = 52;
            return nullptr;
        }
        if (!IsFileType(file->type)) {
            errorCode = 14;
            return nullptr;
        }
        FILE* fp = StreamOf(*this, slot);
        if (!fp) {
            errorCode = 52;
            return nullptr;
        }
        FileDirection(fp, 'r');
        if (file->type == T_FILE) {
            int r = FileReadText(fp, target);
            if (r < 0) return nullptr;
            result = r;
        } else {
            int64_t n = FileReadImage(fp, target);
            if (n < 0) return nullptr;
            if (n == 0) result = IO_NOTHING_READ;
        }
    }
    FileResult(s, result);
    return s;
}

StmtRec* Kestrin::CmdWriteFile(StmtRec* s)
{
    if (s->argc < 1) {
        errorCode = 1;
        return nullptr;
    }
    VarRec* file = FileLookup(s, 0);
    if (!file) return nullptr;
    uint32_t slot = SlotWord(file, file->data);
    if (!slot) {
        errorCode = 52;
        return nullptr;
    }
    constants[CONST_IO_STATUS] = IO_OK;
    if (!IsFileType(file->type)) {
        errorCode = 14;
        return nullptr;
    }
    FILE* fp = StreamOf(*this, slot);
    if (!fp) {
        errorCode = 52;
        return nullptr;
    }
    FileDirection(fp, 'w');
    if (file->type == T_FILE) {
        s->fileOutput = 1;
        StmtRec* r = CmdPrint(s);
        s->fileOutput = 0;
        if (!r) return nullptr;
    } else {
        for (int i = 1; i < s->argc; ++i) {
            VarRec* v = FileLookup(s, i);
            if (!v) return nullptr;
            FileWriteImage(fp, v);
        }
    }
    FileResult(s, IO_OK);
    return s;
}

StmtRec* Kestrin::CmdAtEndOfFile(StmtRec* s)
{
    ValueRec f;
    if (!FetchArgument(&f, s, 0, WANT_ANY)) return nullptr;
    if (!f.var || !IsFileType(f.type)) {
        errorCode = 14;
        return nullptr;
    }
    FILE* fp = StreamOf(*this, f.handle);
    if (!fp) {
        errorCode = 52;
        return nullptr;
    }
    int32_t atEnd = feof(fp) ? 16 : 0;
    if (sysInt && sysInt->data) memcpy(sysInt->data, &atEnd, sizeof atEnd);
    s->resultType = T_INT;
    return s;
}

StmtRec* Kestrin::CmdFilePosition(StmtRec* s)
{
    if (s->argc != 1 && s->argc != 2) {
        errorCode = 1;
        return nullptr;
    }
    ValueRec f;
    if (!FetchArgument(&f, s, 0, T_BFILE)) return nullptr;
    FILE* fp = StreamOf(*this, f.handle);
    if (!fp) {
        errorCode = 52;
        return nullptr;
    }
    if (s->argc == 1) {
        int32_t pos = (int32_t)(uint32_t)(uint64_t)_ftelli64(fp);
        if (sysInt && sysInt->data) memcpy(sysInt->data, &pos, sizeof pos);
        s->resultType = T_INT;
        return s;
    }
    ValueRec p;
    if (!FetchArgument(&p, s, 1, WANT_NUMBER)) return nullptr;
    if (p.i >= 0 && _fseeki64(fp, (int64_t)p.i, SEEK_SET) == 0) FileDirection(fp, 0);
    return s;
}

StmtRec* Kestrin::FileRecord(StmtRec* s, bool put)
{
    if (s->argc != 3) {
        errorCode = 1;
        return nullptr;
    }
    ValueRec f, n;
    if (!FetchArgument(&f, s, 0, T_BFILE)) return nullptr;
    FILE* fp = StreamOf(*this, f.handle);
    if (!fp) {
        errorCode = 52;
        return nullptr;
    }
    if (!FetchArgument(&n, s, 1, WANT_NUMBER)) return nullptr;
    if (n.i < 1) {
        errorCode = 46;
        return nullptr;
    }
    VarRec* v = FileLookup(s, 2);
    if (!v) return nullptr;
    constants[CONST_IO_STATUS] = IO_OK;
    if (!put && HoldsObjectAddress(v->type)) {
        errorCode = 14;
        return nullptr;
    }
    char* start;
    size_t len;
    VarRec* header;
    FileImage(v, &start, &len, &header);
    int64_t size = (int64_t)len;
    if (_fseeki64(fp, (int64_t)(n.i - 1) * size, SEEK_SET) == 0) FileDirection(fp, 0);
    FileDirection(fp, put ? 'w' : 'r');
    int32_t result = IO_OK;
    if (put) {
        FileWriteImage(fp, v);
    } else {
        int64_t got = FileReadImage(fp, v);
        if (got < 0) return nullptr;
        // Also for a structure: a record past the end of the file is reported.
        if (got == 0) result = IO_NOTHING_READ;
    }
    FileResult(s, result);
    return s;
}

StmtRec* Kestrin::CmdGetRecord(StmtRec* s)
{
    return FileRecord(s, false);
}

StmtRec* Kestrin::CmdPutRecord(StmtRec* s)
{
    return FileRecord(s, true);
}
