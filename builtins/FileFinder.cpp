// Directory search: the found entry and the entry read ahead of it.
#include "builtins/FileFinder.h"
#include <cstring>
#include <new>

CFileFinder::CFileFinder()
    : found(nullptr), next(nullptr), search(nullptr), lastEntry(false), separator('\\')
{
}

CFileFinder::~CFileFinder()
{
    Close();
    root.clear();
}

void CFileFinder::Close()
{
    delete found;
    found = nullptr;
    delete next;
    next = nullptr;
    if (search != nullptr && search != INVALID_HANDLE_VALUE) {
        CloseSearch();
        search = nullptr;
    }
}

void CFileFinder::CloseSearch()
{
    FindClose(search);
}

bool CFileFinder::FindFirst(const char* pattern)
{
    Close();
    next = new (std::nothrow) WIN32_FIND_DATAA;
    lastEntry = false;
    if (!next) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    memset(next, 0, sizeof *next);
    if (!pattern || !*pattern) pattern = "*.*";
    strncpy(next->cFileName, pattern, sizeof next->cFileName - 1);

    search = FindFirstFileA(pattern, next);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        Close();
        SetLastError(err);
        return false;
    }

    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(pattern, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) {
        Close();
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    root = full;
    size_t cut = root.find_last_of("\\/");
    if (cut != std::string::npos) root.erase(cut);
    return true;
}

bool CFileFinder::FindNext()
{
    if (search == nullptr || search == INVALID_HANDLE_VALUE || !next) return false;
    if (!found) {
        found = new (std::nothrow) WIN32_FIND_DATAA;
        if (!found) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        memset(found, 0, sizeof *found);
    }
    WIN32_FIND_DATAA* t = found;
    found = next;
    next = t;
    return FindNextFileA(search, next) != 0;
}

std::string CFileFinder::GetFileName() const
{
    if (!found) return std::string();
    // cFileName is NUL-terminated by the system; bound the read all the same.
    size_t n = strnlen(found->cFileName, sizeof found->cFileName);
    return std::string(found->cFileName, n);
}
