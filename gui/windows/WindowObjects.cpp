// Release and handles of the window objects that WINDOW and DIALOG variables hold.
#include "interp/Kestrin.h"
#include "gui/windows/KestrinWnd.h"

void Kestrin::DestroyWindowObject(CKestrinWnd* obj)
{
    if (!obj) return;
    obj->DestroyWindow();
    delete obj;
}

uint32_t Kestrin::WindowObjectHandle(CKestrinWnd* obj)
{
    // Window handles are 32-bit values on every build.
    return obj ? (uint32_t)(uintptr_t)obj->m_hWnd : 0;
}

void Kestrin::DrawOutputText(CKestrinWnd* w, const char* text, size_t len)
{
    if (!w || !w->m_hWnd) return;
    HDC dc = GetDC(w->m_hWnd);
    if (!dc) return;
    POINT at;
    if (!GetCurrentPositionEx(dc, &at)) at.x = at.y = 0;
    TextOutA(dc, at.x, at.y, text, (int)len);
    ReleaseDC(w->m_hWnd, dc);
}
