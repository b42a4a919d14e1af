// Directory search over the Win32 find functions, one entry read ahead.
#pragma once
#include <windows.h>
#include <string>

class CFileFinder {
public:
    CFileFinder();
    virtual ~CFileFinder();

    // Starts a search; a null or empty pattern means "*.*". False with the
    // thread's last-error value set when nothing matches or the path is invalid.
    virtual bool FindFirst(const char* pattern);
    // Moves to the entry read ahead and reads the following one; false when the
    // read-ahead failed (last-error value of FindNextFileA) or there is no search.
    virtual bool FindNext();
    virtual void CloseSearch();

    // Frees both entries and ends the search.
    void Close();
    // Name of the entry last moved to; empty when there is none.
    std::string GetFileName() const;

    WIN32_FIND_DATAA* found;
    WIN32_FIND_DATAA* next;
    HANDLE search;
    bool lastEntry;           // set once the final entry has been handed out
    std::string root;         // directory part of the full path of the pattern
    char separator;

private:
    CFileFinder(const CFileFinder&) = delete;
    CFileFinder& operator=(const CFileFinder&) = delete;
};
