// Printing, console input, key polling and the file dialog.
#include "interp/Kestrin.h"
#include <windows.h>
#include <commdlg.h>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const int INPUT_LINE_SIZE = 255;          // 254 characters and NUL
const int PRINT_TEXT_LIMIT = OUTPUT_BUFFER_SIZE - 2;   // room for the line feed and NUL
const DWORD SINGLE_FILE_BUFFER = MAX_PATH;
const DWORD MULTI_FILE_BUFFER = 10000;
const uint32_t DIALOG_CANCELLED = 999;

// Text of one print statement, cut at its limit.
struct PrintText {
    char* buf;
    size_t len;

    void Add(const char* text, size_t n)
    {
        if (len >= (size_t)PRINT_TEXT_LIMIT) return;
        size_t room = (size_t)PRINT_TEXT_LIMIT - len;
        if (n > room) n = room;
        memcpy(buf + len, text, n);
        len += n;
        buf[len] = 0;
    }

    void Format(const char* fmt, ...)
    {
        if (len >= (size_t)PRINT_TEXT_LIMIT) return;
        size_t room = (size_t)PRINT_TEXT_LIMIT - len;
        va_list ap;
        va_start(ap, fmt);
        int n = vsnprintf(buf + len, room + 1, fmt, ap);
        va_end(ap);
        if (n < 0) {
            buf[len] = 0;
            return;
        }
        len += (size_t)n < room ? (size_t)n : room;
    }
};

// A number that prints with decimals when it has a fractional part.
void AddFloating(PrintText& out, const ValueRec& v, int prec)
{
    const double d = v.d;
    if (prec > OUTPUT_BUFFER_SIZE) prec = OUTPUT_BUFFER_SIZE;
    if (d != std::trunc(d)) {
        out.Format(" %.*f", prec, d);
    } else if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
        out.Format("%" PRId64 " ", v.i64);
    } else {
        out.Format("%.0f ", d);   // whole, but beyond the 64-bit view
    }
}

// An argument of nothing but blanks counts as empty.
bool IsEmptyArgument(const char* s)
{
    while (*s == ' ' || *s == '\t') ++s;
    return *s == 0;
}

}

void Kestrin::WriteConsoleText(const char* text, size_t len)
{
    fflush(stdout);   // keep the order with writes through SYSTEM_STDOUT0
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    while (len > 0) {
        DWORD chunk = len > 16384 ? 16384 : (DWORD)len;
        DWORD done = 0;
        if (!WriteConsoleA(h, text, chunk, &done, nullptr)) {
            // Not a console: a redirected handle takes the bytes as they are.
            if (!WriteFile(h, text, chunk, &done, nullptr)) return;
        }
        if (done == 0) return;
        text += done;
        len -= done;
    }
}

size_t Kestrin::JoinDialogPaths(const char* files, size_t filesSize, char* dest, size_t destSize)
{
    if (destSize == 0) return 0;
    dest[0] = 0;
    if (!files || filesSize == 0) return 0;
    size_t used = 0;
    auto put = [&](const char* dir, size_t dirLen, const char* name, size_t nameLen) {
        bool sep = dirLen > 0 && dir[dirLen - 1] != '\\';
        size_t need = dirLen + (sep ? 1 : 0) + nameLen + 1;
        if (used + need + 1 > destSize) return false;   // whole paths only
        memcpy(dest + used, dir, dirLen);
        used += dirLen;
        if (sep) dest[used++] = '\\';
        memcpy(dest + used, name, nameLen);
        used += nameLen;
        dest[used++] = '|';
        dest[used] = 0;
        return true;
    };
    const char* end = files + filesSize;
    size_t firstLen = strnlen(files, filesSize);
    if (firstLen == 0) return 0;
    const char* next = files + firstLen + 1;
    if (next >= end || *next == 0) {
        put("", 0, files, firstLen);   // one path
        return used;
    }
    // A folder followed by the names chosen in it.
    while (next < end && *next) {
        size_t n = strnlen(next, (size_t)(end - next));
        if (!put(files, firstLen, next, n)) break;
        next += n + 1;
    }
    return used;
}

StmtRec* Kestrin::CmdPrint(StmtRec* s)
{
    const bool toFile = s->fileOutput != 0;
    s->fileOutput = 0;
    if (!outputBuffer) {
        errorCode = 2;
        return nullptr;
    }
    if (toFile && s->argc < 1) {
        errorCode = 56;
        return nullptr;
    }

    // The line is built in a block of its own: fetching an argument may run a
    // command that prints, which reuses the output buffer.
    char* scratch = (char*)malloc(OUTPUT_BUFFER_SIZE);
    if (!scratch) {
        errorCode = 2;
        return nullptr;
    }
    PrintText out = {scratch, 0};
    scratch[0] = 0;

    const int first = toFile ? 1 : 0;
    for (int i = first; i < s->argc; ++i) {
        if (IsEmptyArgument(s->args[i])) continue;
        ValueRec v;
        if (!FetchArgument(&v, s, i, WANT_ANY)) {
            free(scratch);
            return nullptr;
        }
        switch (v.type) {
        case T_STRING:
            if (v.text) out.Add(v.text, strlen(v.text));
            break;
        case T_CHAR: {
            char c = (char)v.ch;
            out.Add(&c, 1);
            break;
        }
        case T_INT: out.Format("%d ", (int)v.i); break;
        case T_WORD: out.Format("%d", (int)v.i); break;
        case T_UINT: out.Format("%u ", (unsigned)(uint32_t)v.i); break;
        case T_INT64: out.Format("%" PRId64 " ", v.i64); break;
        case T_UINT64: out.Format("%" PRIu64 " ", (uint64_t)v.i64); break;
        case T_FLOAT:
        case T_DOUBLE: AddFloating(out, v, decimalPrec); break;
        case T_WINDOW:
            // Only an open window object can take the output.
            if (i == 0) outputWindow = KnownWindowObject(v.handle);
            break;
        case T_DIALOG:
        case T_MEMORY:
        case T_POINTER:
        case T_USER_0:
        case T_BFILE: out.Format("%08X ", (unsigned)v.handle); break;   // 32-bit address
        case T_FILE:
        case T_ARRAY_0: out.Add("%", 1); break;
        default: break;   // SYSTEM_0 and the rest print nothing
        }
    }

    if (toFile) {
        out.buf[out.len++] = '\n';
        out.buf[out.len] = 0;
        memcpy(outputBuffer, out.buf, out.len + 1);
        free(scratch);
        VarRec* var = LookupVariable(s->args[0], nullptr, false);
        if (!var) {
            if (!errorCode) errorCode = 10;
            return nullptr;
        }
        if (var->type != T_FILE) {
            errorCode = 14;
            return nullptr;
        }
        uint32_t slot = 0;
        if (var->data) memcpy(&slot, var->data, sizeof slot);
        // Only the standard streams and streams opened by the program are written.
        FILE* fp = nullptr;
        if (slot == 0) fp = nullptr;
        else if (slot == stdoutSlot) fp = stdoutStream.fp;
        else if (slot == stdinSlot) fp = stdinStream.fp;
        else if (KStream* ks = KnownStream(slot)) fp = ks->fp;
        if (!fp) {
            errorCode = 52;
            return nullptr;
        }
        fwrite(outputBuffer, 1, out.len, fp);
        return s;
    }

    if (outputWindow) {
        // Drawn where the window's last output ended; no line end.
        memcpy(outputBuffer, out.buf, out.len + 1);
        free(scratch);
        DrawOutputText(outputWindow, outputBuffer, out.len);
        return s;
    }

    bool lineEnd = !(s->argc > 0 && (s->resultType == 1 || IsEmptyArgument(s->args[s->argc - 1])));
    if (lineEnd) out.buf[out.len++] = '\n';
    out.buf[out.len] = 0;
    memcpy(outputBuffer, out.buf, out.len + 1);
    free(scratch);
    if (!consoleFlag) OpenConsole();
    WriteConsoleText(outputBuffer, out.len);
    return s;
}

StmtRec* Kestrin::CmdInput(StmtRec* s)
{
    if (s->argc < 1) {
        errorCode = 56;
        return nullptr;
    }
    int varIndex = 0;
    if (s->args[0][0] == '"') {
        if (s->argc < 2) {
            errorCode = 56;
            return nullptr;
        }
        uint16_t argc = s->argc;
        int resultType = s->resultType;
        s->argc = 1;
        s->resultType = 1;
        StmtRec* r = CmdPrint(s);
        s->argc = argc;
        s->resultType = resultType;
        if (!r) return nullptr;
        varIndex = 1;
    } else if (!consoleFlag) {
        OpenConsole();
    }

    VarRec* var = LookupVariable(s->args[varIndex], nullptr, true);
    if (!var) {
        if (!errorCode) errorCode = 10;
        return nullptr;
    }

    char line[INPUT_LINE_SIZE];
    if (!fgets(line, sizeof line, stdin)) {
        errorCode = 13;
        return nullptr;
    }
    size_t n = strlen(line);
    if (n > 0 && line[n - 1] == '\n') {
        line[--n] = 0;
    } else {
        // The line is longer than the buffer: the rest of it is dropped.
        int c;
        while ((c = fgetc(stdin)) != EOF && c != '\n') {
        }
    }
    if (n > 0 && line[n - 1] == '\r') line[--n] = 0;

    if (var->constant) {
        errorCode = 58;
        return nullptr;
    }
    char* data = var->data;
    if (!data && var->type != T_STRING) {
        errorCode = 14;
        return nullptr;
    }
    switch (var->type) {
    case T_STRING: {
        if (!data || var->capacity < 1) break;
        size_t limit = (size_t)var->capacity - 1;
        if (n > limit) n = limit;
        memcpy(data, line, n);
        data[n] = 0;
        break;
    }
    case T_CHAR:
        data[0] = line[0];
        break;
    case T_INT:
    case T_UINT: {
        uint32_t x = (uint32_t)strtoll(line, nullptr, 0);
        memcpy(data, &x, sizeof x);
        break;
    }
    case T_WORD: {
        uint16_t x = (uint16_t)strtoll(line, nullptr, 0);
        memcpy(data, &x, sizeof x);
        break;
    }
    case T_FLOAT: {
        float x = (float)strtod(line, nullptr);
        memcpy(data, &x, sizeof x);
        break;
    }
    case T_DOUBLE: {
        double x = strtod(line, nullptr);
        memcpy(data, &x, sizeof x);
        break;
    }
    case T_INT64: {
        int64_t x = strtoll(line, nullptr, 10);
        memcpy(data, &x, sizeof x);
        break;
    }
    case T_UINT64: {
        uint64_t x = strtoull(line, nullptr, 10);
        memcpy(data, &x, sizeof x);
        break;
    }
    default:
        errorCode = 14;
        return nullptr;
    }
    return s;
}

StmtRec* Kestrin::CmdGetKey(StmtRec* s)
{
    if (s->argc > 1) {
        errorCode = 1;
        return nullptr;
    }
    bool virtualKey = false;
    if (s->argc == 1) {
        ValueRec v;
        if (!FetchArgument(&v, s, 0, WANT_NUMBER)) return nullptr;
        virtualKey = v.i != 0;
    }
    if (!sysString || !sysString->data) {
        errorCode = 2;
        return nullptr;
    }

    char key = 0;
    HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
    INPUT_RECORD rec;
    DWORD got = 0;
    if (h && h != INVALID_HANDLE_VALUE && PeekConsoleInputA(h, &rec, 1, &got) && got == 1 &&
        ReadConsoleInputA(h, &rec, 1, &got) && got == 1 && rec.EventType == KEY_EVENT &&
        rec.Event.KeyEvent.bKeyDown) {
        FlushConsoleInputBuffer(h);
        key = virtualKey ? (char)(rec.Event.KeyEvent.wVirtualKeyCode & 0xFF)
                         : rec.Event.KeyEvent.uChar.AsciiChar;
    }
    sysString->data[0] = key;
    sysString->data[1] = 0;
    s->resultType = T_STRING;
    return s;
}

StmtRec* Kestrin::CmdFileDialog(StmtRec* s)
{
    if (s->argc < 1) {
        errorCode = 1;
        return nullptr;
    }
    if (!sysString || !sysString->data) {
        errorCode = 2;
        return nullptr;
    }
    // Fetched texts may live in SYSTEM_STRING0, which the next fetch reuses.
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_STRING)) return nullptr;
    std::string title = v.text ? v.text : "";

    HWND owner = nullptr;
    const char* ownerText = s->argc > 1 ? s->args[1] : "0";
    while (*ownerText == ' ' || *ownerText == '\t') ++ownerText;
    if (*ownerText != '0') {
        if (!FetchArgument(&v, s, 1, WANT_WINDOW_OR_DIALOG)) return nullptr;
        // Only a live window or dialog object can own the dialog.
        if (CKestrinWnd* w = KnownWindowObject(v.handle)) owner = (HWND)SlotToPtr(WindowObjectHandle(w));
    }
    bool open = false;
    if (s->argc > 2) {
        if (!FetchArgument(&v, s, 2, WANT_NUMBER)) return nullptr;
        open = v.i != 0;
    }

    std::string filter, defExt, folder;
    bool haveFilter = false, haveDefExt = false, haveFolder = false;
    DWORD flags = 0;
    if (s->argc > 3) {
        if (FetchArgument(&v, s, 3, T_STRING)) {
            filter = v.text ? v.text : "";
            haveFilter = true;
        }
        errorCode = 0;
    }
    if (s->argc > 4) {
        if (FetchArgument(&v, s, 4, T_STRING)) {
            defExt = v.text ? v.text : "";
            haveDefExt = true;
        }
        errorCode = 0;
    }
    if (s->argc > 5) {
        if (FetchArgument(&v, s, 5, WANT_NUMBER)) flags = (DWORD)v.i;
        errorCode = 0;
    }
    if (s->argc == 7) {
        if (FetchArgument(&v, s, 6, T_STRING)) {
            folder = v.text ? v.text : "";
            haveFolder = true;
        }
        errorCode = 0;
    }

    // No hook procedure or template handle goes with the dialog.
    flags &= ~(DWORD)(OFN_ENABLEHOOK | OFN_ENABLETEMPLATEHANDLE);
    flags |= OFN_HIDEREADONLY | OFN_EXPLORER;
    if (!open) flags |= OFN_OVERWRITEPROMPT;
    DWORD fileSize = (flags & OFN_ALLOWMULTISELECT) ? MULTI_FILE_BUFFER : SINGLE_FILE_BUFFER;
    char* files = (char*)calloc(fileSize + 1, 1);
    if (!files) {
        errorCode = 2;
        return nullptr;
    }

    // "description|pattern|..." becomes the NUL-separated list the dialog reads.
    if (haveFilter) {
        for (char& c : filter)
            if (c == '|') c = 0;
        filter.push_back(0);
        filter.push_back(0);
    }

    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.hInstance = GetModuleHandleA(nullptr);
    ofn.lpstrFilter = haveFilter && filter.size() > 2 ? filter.c_str() : nullptr;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = files;
    ofn.nMaxFile = fileSize - 1;
    ofn.lpstrInitialDir = haveFolder && !folder.empty() ? folder.c_str() : nullptr;
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = flags;
    ofn.lpstrDefExt = haveDefExt && !defExt.empty() ? defExt.c_str() : nullptr;

    BOOL ok = open ? GetOpenFileNameA(&ofn) : GetSaveFileNameA(&ofn);
    if (!ok) {
        free(files);
        if (CommDlgExtendedError() != 0) {
            errorCode = 29;
            return nullptr;
        }
        sysString->data[0] = 0;
        constants[CONST_IO_STATUS] = DIALOG_CANCELLED;
        s->resultType = T_STRING;
        return s;
    }

    size_t capacity = sysString->capacity > 0 ? (size_t)sysString->capacity : (size_t)RESULT_STRING_SIZE + 1;
    if (flags & OFN_ALLOWMULTISELECT) {
        JoinDialogPaths(files, fileSize, sysString->data, capacity);
    } else {
        size_t n = strnlen(files, fileSize);
        if (n > capacity - 1) n = capacity - 1;
        memcpy(sysString->data, files, n);
        sysString->data[n] = 0;
    }
    free(files);
    constants[CONST_IO_STATUS] = 0;
    s->resultType = T_STRING;
    return s;
}
