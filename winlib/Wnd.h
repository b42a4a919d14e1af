// The window object layer: a C++ object over one HWND.
#pragma once
#include <windows.h>

class CWnd {
public:
    CWnd() : m_hWnd(nullptr) {}
    virtual ~CWnd() { DestroyWindow(); }
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return this ? m_hWnd : nullptr; }

    // Destroys the window (if any); the object itself stays.
    virtual BOOL DestroyWindow()
    {
        if (!m_hWnd) return FALSE;
        HWND h = m_hWnd;
        m_hWnd = nullptr;
        return ::IsWindow(h) ? ::DestroyWindow(h) : FALSE;
    }

    HWND m_hWnd;
};
