// Window objects held by WINDOW variables.
#pragma once
#include <string>
#include "winlib/Wnd.h"

class Kestrin;

class CKestrinWnd : public CWnd {
public:
    CKestrinWnd(Kestrin* owner, const char* handler) : interp(owner), handlerName(handler ? handler : "") {}

    Kestrin* interp;
    std::string handlerName;   // subroutine that receives the window's events
};
