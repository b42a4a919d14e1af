// Raw print jobs through the spooler, the default printer and the print dialog.
#include "interp/Kestrin.h"
#include <windows.h>
#include <commdlg.h>
#include <winspool.h>
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <string>

namespace {

const size_t PRINTER_TEXT_SIZE = 32767;   // the text of one write, with its line feed
const DWORD PRINTER_ACCESS = 0xF0008;     // STANDARD_RIGHTS_REQUIRED | PRINTER_ACCESS_USE
const int MAX_PRECISION = 32767;

bool NewerSpooler() { return (GetVersion() & 0xFF) >= 5; }

// The printer name of a print dialog's device names: the output port when it is a
// network path, otherwise the device.
std::string PrinterName(HGLOBAL devNames)
{
    std::string name;
    if (!devNames) return name;
    const char* base = (const char*)GlobalLock(devNames);
    if (!base) return name;
    SIZE_T size = GlobalSize(devNames);
    if (size >= sizeof(DEVNAMES)) {
        const DEVNAMES* dn = (const DEVNAMES*)base;
        auto textAt = [&](WORD off) {
            return off < size ? std::string(base + off, strnlen(base + off, size - off)) : std::string();
        };
        std::string port = textAt(dn->wOutputOffset);
        name = port.compare(0, 2, "\\\\") == 0 ? port : textAt(dn->wDeviceOffset);
    }
    GlobalUnlock(devNames);
    return name;
}

void ReleaseDialogMemory(PRINTDLGA* pd)
{
    if (pd->hDevMode) GlobalFree(pd->hDevMode);
    if (pd->hDevNames) GlobalFree(pd->hDevNames);
    pd->hDevMode = pd->hDevNames = nullptr;
}

// Appends to out, never beyond limit bytes in all.
void Append(std::string* out, size_t limit, const char* p, size_t n)
{
    if (out->size() >= limit) return;
    out->append(p, std::min(n, limit - out->size()));
}

void AppendFormat(std::string* out, size_t limit, const char* fmt, ...)
{
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    if (n > 0) {
        std::string text((size_t)n + 1, '\0');
        vsnprintf(&text[0], text.size(), fmt, again);
        Append(out, limit, text.data(), (size_t)n);
    }
    va_end(again);
}

// An INT variable whose element can be read and written.
bool IntVariable(const ValueRec& v)
{
    if (!v.var || v.type != T_INT || !v.elem) return false;
    char* start = Kestrin::StorageStart(v.var);
    size_t bytes = Kestrin::StorageBytes(v.var);
    return start && v.elem >= start && v.elem + 4 <= start + bytes;
}

int32_t ReadInt(const char* p)
{
    int32_t v;
    memcpy(&v, p, 4);
    return v;
}

void WriteInt(char* p, int32_t v) { memcpy(p, &v, 4); }

// The one argument of a command that takes a printer handle; false (error 56
// for any other argument count) when it cannot be had.
bool PrinterHandleArgument(Kestrin& k, StmtRec* s, uint32_t* handle)
{
    if (s->argc != 1) {
        k.errorCode = 56;
        return false;
    }
    ValueRec v;
    if (!k.FetchArgument(&v, s, 0, T_INT)) return false;
    *handle = (uint32_t)v.i;
    return true;
}

}

void* Kestrin::KnownPrinter(uint32_t handle)
{
    if (!handle) return nullptr;
    for (void* h : sysmem.printers) {
        uint32_t slot;
        if (PtrToSlot(h, &slot) && slot == handle) return h;
    }
    return nullptr;
}

StmtRec* Kestrin::CmdDefaultPrinter(StmtRec* s)
{
    if (s->argc != 0) {
        errorCode = 56;
        return nullptr;
    }
    PRINTDLGA pd;
    memset(&pd, 0, sizeof pd);
    pd.lStructSize = sizeof pd;
    pd.Flags = PD_RETURNDEFAULT | PD_HIDEPRINTTOFILE | PD_USEDEVMODECOPIESANDCOLLATE | PD_NOPAGENUMS |
               PD_NOSELECTION;
    std::string name;
    if (PrintDlgA(&pd)) {
        name = PrinterName(pd.hDevNames);
        if (pd.hDC) DeleteDC(pd.hDC);
    }
    ReleaseDialogMemory(&pd);
    return SysStringResult(s, name.c_str(), name.size());
}

StmtRec* Kestrin::CmdOpenPrinter(StmtRec* s)
{
    if (s->argc != 3) {
        errorCode = 56;
        return nullptr;
    }
    std::string text[3];
    for (int i = 0; i < 3; ++i) {
        ValueRec v;
        if (!FetchArgument(&v, s, i, T_STRING)) return nullptr;
        text[i].assign(v.text ? v.text : "");
    }
    std::string& name = text[0];
    std::string& doc = text[1];
    std::string& dataType = text[2];

    bool newer = NewerSpooler();
    PRINTER_DEFAULTSA defaults;
    defaults.pDatatype = &dataType[0];
    defaults.pDevMode = nullptr;
    defaults.DesiredAccess = PRINTER_ACCESS;
    HANDLE h = nullptr;
    if (!OpenPrinterA(&name[0], &h, newer ? &defaults : nullptr) || !h) return SysIntResult(s, 0);

    DOC_INFO_1A info;
    info.pDocName = &doc[0];
    info.pOutputFile = nullptr;
    info.pDatatype = newer ? &dataType[0] : nullptr;
    if (!StartDocPrinterA(h, 1, (LPBYTE)&info)) {
        ClosePrinter(h);
        return SysIntResult(s, 0);
    }
    if (!StartPagePrinter(h)) {
        EndDocPrinter(h);
        ClosePrinter(h);
        return SysIntResult(s, 0);
    }
    uint32_t slot;
    if (!SlotOf(h, &slot) || slot == 0) {
        EndPagePrinter(h);
        EndDocPrinter(h);
        ClosePrinter(h);
        if (!errorCode) errorCode = 2;
        return nullptr;
    }
    sysmem.printers.push_back(h);
    return SysIntResult(s, (int32_t)slot);
}

// Handles that are no open print job of ours are left alone, like a handle of 0.
StmtRec* Kestrin::CmdClosePrinter(StmtRec* s)
{
    uint32_t handle;
    if (!PrinterHandleArgument(*this, s, &handle)) return nullptr;
    HANDLE h = (HANDLE)KnownPrinter(handle);
    if (!h) return s;
    if (!NewerSpooler()) {
        char formFeed = 12;
        DWORD written;
        WritePrinter(h, &formFeed, 1, &written);
    }
    EndPagePrinter(h);
    EndDocPrinter(h);
    ClosePrinter(h);
    sysmem.printers.erase(std::find(sysmem.printers.begin(), sysmem.printers.end(), (void*)h));
    return s;
}

StmtRec* Kestrin::CmdNewPrinterPage(StmtRec* s)
{
    uint32_t handle;
    if (!PrinterHandleArgument(*this, s, &handle)) return nullptr;
    HANDLE h = (HANDLE)KnownPrinter(handle);
    if (!h) return s;
    EndPagePrinter(h);
    StartPagePrinter(h);
    return s;
}

// The text of one printer write: every argument after the handle, then a line feed.
int Kestrin::BuildPrinterText(StmtRec* s, std::string* out)
{
    const size_t limit = PRINTER_TEXT_SIZE - 1;   // room for the line feed
    out->clear();
    int prec = decimalPrec > MAX_PRECISION ? MAX_PRECISION : decimalPrec;
    for (int i = 1; i < s->argc; ++i) {
        const char* a = s->args[i];
        while (a && (*a == ' ' || *a == '\t')) ++a;
        if (!a || *a == 0) continue;   // an empty argument prints nothing
        ValueRec v;
        if (!FetchArgument(&v, s, i, WANT_ANY)) return 0;
        switch (v.type) {
        case T_STRING:
            if (v.text) Append(out, limit, v.text, strlen(v.text));
            break;
        case T_CHAR: {
            char c = (char)v.ch;
            Append(out, limit, &c, 1);
            break;
        }
        case T_INT: AppendFormat(out, limit, "%d ", (int)v.i); break;
        case T_FLOAT:
        case T_DOUBLE:
            if (v.f != std::trunc(v.f)) AppendFormat(out, limit, " %.*f", prec, v.d);
            else AppendFormat(out, limit, "%d ", (int)v.i);
            break;
        case T_WORD: AppendFormat(out, limit, "%d", (int)v.i); break;
        case T_UINT: AppendFormat(out, limit, "%u ", (unsigned)(uint32_t)v.i); break;
        case T_INT64: AppendFormat(out, limit, "%lld ", (long long)v.i64); break;
        case T_UINT64: AppendFormat(out, limit, "%llu ", (unsigned long long)v.i64); break;
        case T_MEMORY:
        case T_WINDOW:
        case T_DIALOG:
        case T_BFILE:
        case T_USER_0:
        case T_POINTER: AppendFormat(out, limit, "%08X ", (unsigned)v.handle); break;   // 32-bit address
        case T_FILE:
        case T_ARRAY_0: Append(out, limit, "%", 1); break;
        default: break;   // SYSTEM_0 and LABEL_0 print nothing
        }
    }
    out->push_back('\n');
    return 1;
}

StmtRec* Kestrin::CmdPrinterWrite(StmtRec* s)
{
    if (s->argc < 1) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_INT)) return nullptr;
    uint32_t handle = (uint32_t)v.i;
    std::string text;
    if (!BuildPrinterText(s, &text)) return nullptr;
    HANDLE h = (HANDLE)KnownPrinter(handle);
    if (h) {
        DWORD written;
        WritePrinter(h, &text[0], (DWORD)text.size(), &written);
    }
    return s;
}

StmtRec* Kestrin::CmdPrintDialog(StmtRec* s)
{
    if (s->argc != 5) return s;
    ValueRec v;
    HWND owner = nullptr;
    if (FetchArgument(&v, s, 0, WANT_WINDOW_OR_DIALOG)) owner = (HWND)OwnerWindow(v.handle);
    else errorCode = 0;
    char* elem[4];
    for (int i = 0; i < 4; ++i) {
        if (!FetchArgument(&v, s, i + 1, WANT_ANY)) return nullptr;
        if (!IntVariable(v)) {
            errorCode = 14;
            return nullptr;
        }
        elem[i] = v.elem;
    }
    char *fromVar = elem[0], *toVar = elem[1], *copiesVar = elem[2], *collateVar = elem[3];

    PRINTDLGA pd;
    memset(&pd, 0, sizeof pd);
    pd.lStructSize = sizeof pd;
    pd.hwndOwner = owner;
    pd.Flags = PD_HIDEPRINTTOFILE | PD_USEDEVMODECOPIESANDCOLLATE | PD_NOSELECTION | PD_RETURNDC;
    pd.nMinPage = pd.nFromPage = (WORD)ReadInt(fromVar);
    pd.nMaxPage = pd.nToPage = (WORD)ReadInt(toVar);
    pd.nCopies = (WORD)ReadInt(copiesVar);
    std::string name;
    if (PrintDlgA(&pd)) {
        bool range = (pd.Flags & PD_PAGENUMS) != 0;
        WriteInt(fromVar, range ? (int32_t)pd.nFromPage : -1);
        WriteInt(toVar, range ? (int32_t)pd.nToPage : -1);
        WriteInt(copiesVar, (int32_t)pd.nCopies);
        WriteInt(collateVar, (pd.Flags & PD_COLLATE) ? 1 : 0);
        name = PrinterName(pd.hDevNames);
        if (pd.hDC) DeleteDC(pd.hDC);
    }
    ReleaseDialogMemory(&pd);
    return SysStringResult(s, name.c_str(), name.size());
}
