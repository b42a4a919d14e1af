// Files and directories by name, and directory search through finder handles.
#include "interp/Kestrin.h"
#include "builtins/FileFinder.h"
#include <algorithm>
#include <cstring>
#include <new>

namespace {

void SetIntResult(Kestrin& k, StmtRec* s, int32_t value)
{
    if (k.sysInt && k.sysInt->data) memcpy(k.sysInt->data, &value, sizeof value);
    s->resultType = T_INT;
}

// A command of one argument; any other count is error 56.
bool OneArgument(Kestrin& k, const StmtRec* s)
{
    if (s->argc == 1) return true;
    k.errorCode = 56;
    return false;
}

void SetStringResult(Kestrin& k, StmtRec* s, const std::string& text)
{
    if (k.sysString && k.sysString->data && k.sysString->count > 0) {
        size_t n = std::min(text.size(), (size_t)k.sysString->count - 1);
        memcpy(k.sysString->data, text.data(), n);
        k.sysString->data[n] = 0;
    }
    s->resultType = T_STRING;
}

}

Kestrin::FinderTable::~FinderTable()
{
    for (CFileFinder* f : live) delete f;
    live.clear();
}

CFileFinder* Kestrin::FinderOf(uint32_t handle)
{
    for (CFileFinder* f : finders.live) {
        uint32_t slot;
        if (PtrToSlot(f, &slot) && slot == handle) return f;
    }
    return nullptr;
}

StmtRec* Kestrin::CmdCopyFile(StmtRec* s)
{
    if (s->argc != 3) {
        errorCode = 56;
        return nullptr;
    }
    std::string from, to;
    ValueRec flag;
    if (!FetchText(s, 0, &from) || !FetchText(s, 1, &to)) return nullptr;
    if (!FetchArgument(&flag, s, 2, WANT_NUMBER)) return nullptr;
    BOOL failIfExists = (flag.i != 0 || flag.i64 != 0) ? 1 : 0;
    SetIntResult(*this, s, CopyFileA(from.c_str(), to.c_str(), failIfExists) ? 1 : 0);
    return s;
}

StmtRec* Kestrin::CmdDeleteFile(StmtRec* s)
{
    std::string name;
    if (!OneArgument(*this, s) || !FetchText(s, 0, &name)) return nullptr;
    SetIntResult(*this, s, DeleteFileA(name.c_str()) ? 1 : 0);
    return s;
}

StmtRec* Kestrin::CmdCreateDirectory(StmtRec* s)
{
    std::string name;
    if (!OneArgument(*this, s) || !FetchText(s, 0, &name)) return nullptr;
    SetIntResult(*this, s, CreateDirectoryA(name.c_str(), nullptr) ? 1 : 0);
    return s;
}

StmtRec* Kestrin::CmdRemoveDirectory(StmtRec* s)
{
    std::string name;
    if (!OneArgument(*this, s) || !FetchText(s, 0, &name)) return nullptr;
    SetIntResult(*this, s, RemoveDirectoryA(name.c_str()) ? 1 : 0);
    return s;
}

StmtRec* Kestrin::CmdFindOpen(StmtRec* s)
{
    std::string pattern;
    if (!OneArgument(*this, s) || !FetchText(s, 0, &pattern)) return nullptr;
    CFileFinder* f = new (std::nothrow) CFileFinder;
    if (!f) {
        errorCode = 2;
        return nullptr;
    }
    uint32_t handle = 0;
    if (!f->FindFirst(pattern.c_str())) {
        delete f;
        SetIntResult(*this, s, 0);
        return s;
    }
    if (!SlotOf(f, &handle)) {
        delete f;
        return nullptr;
    }
    finders.live.push_back(f);
    SetLastError(0);
    SetIntResult(*this, s, (int32_t)handle);
    return s;
}

StmtRec* Kestrin::CmdFindNext(StmtRec* s)
{
    if (!OneArgument(*this, s)) return nullptr;
    ValueRec h;
    if (!FetchArgument(&h, s, 0, T_INT)) return nullptr;
    uint32_t handle = (uint32_t)h.i;
    if (handle == 0) {
        // No search: as an exhausted one, the empty text.
        SetStringResult(*this, s, std::string());
        return s;
    }
    CFileFinder* f = FinderOf(handle);
    if (!f) {
        errorCode = 7;
        return nullptr;
    }
    // The exhausted mark is kept in the finder itself, so that searches that run
    // side by side, and Win32 calls between two steps, do not end one another.
    if (!f->lastEntry && f->FindNext()) {
        SetStringResult(*this, s, f->GetFileName());
    } else if (!f->lastEntry && GetLastError() == ERROR_NO_MORE_FILES) {
        SetStringResult(*this, s, f->GetFileName());
        f->lastEntry = true;
        SetLastError(ERROR_INVALID_NAME);
        f->Close();
    } else {
        SetStringResult(*this, s, std::string());
        SetLastError(0);
    }
    return s;
}

StmtRec* Kestrin::CmdFindClose(StmtRec* s)
{
    if (!OneArgument(*this, s)) return nullptr;
    ValueRec h;
    if (!FetchArgument(&h, s, 0, T_INT)) return nullptr;
    uint32_t handle = (uint32_t)h.i;
    if (handle == 0) return s;
    CFileFinder* f = FinderOf(handle);
    if (!f) {
        errorCode = 7;
        return nullptr;
    }
    finders.live.erase(std::find(finders.live.begin(), finders.live.end(), f));
    delete f;
    SetLastError(0);
    return s;
}
