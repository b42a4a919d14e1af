// WINDOW and DIALOG arguments of library functions pass the window handle of the
// object; a variable without an object passes the null handle.
#include "gui/windows/KestrinWnd.h"
#include "interp/Kestrin.h"
#include "startup/ProgramImage.h"
#include "tools/kbind/SourceNotation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

// Puts a window object with a real window into the WINDOW variable w and the
// DIALOG variable d before the program runs (no window command is needed).
class WindowKestrin : public Kestrin {
public:
    HWND hwnd = nullptr;

    void ReportError() override {}
    void OnRunStart() override
    {
        hwnd = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        Hold("w", T_WINDOW, hwnd);
        Hold("d", T_DIALOG, hwnd);
    }

    int32_t Int(const char* name)
    {
        char buf[32];
        snprintf(buf, sizeof buf, "%s", name);
        VarRec* r = LookupVariable(buf, nullptr, false);
        int32_t v = 0;
        if (r && r->data) memcpy(&v, r->data, 4);
        return v;
    }

private:
    void Hold(const char* name, int type, HWND h)
    {
        CKestrinWnd* w = new CKestrinWnd(this, "");
        w->m_hWnd = h;
        char buf[32];
        snprintf(buf, sizeof buf, "%s", name);
        VarRec* v = CreateVariable(buf, type, 1, nullptr);
        uint32_t slot = 0;
        ASSERT_TRUE(v && v->data && PtrToSlot(w, &slot));
        memcpy(v->data, &slot, 4);
        windowList.push_back(w);
    }
};

TEST(LibcallsWindows, WindowAndDialogArgumentsPassTheirHandle)
{
    const char* source =
        "{Declare} \"user32.dll\", \"IsWindow(w:WINDOW)\", \"INT\"\n"
        "{Declare} \"user32.dll\", \"IsDialogWindow| IsWindow(d:DIALOG)\", \"INT\"\n"
        "{Declare} \"testdll.dll\", \"HandleOf| AddInts(h:INT, z:INT)\", \"INT\"\n"
        "{Define} a, b, h, g, none:INT\n"
        "{Define} empty:WINDOW\n"
        "a = IsWindow(w)\n"
        "b = IsDialogWindow(d)\n"
        "h = HandleOf(w, 0)\n"
        "g = HandleOf(d, 0)\n"
        "none = HandleOf(empty, 0)\n";
    std::string image, error;
    ASSERT_TRUE(SourceToImage(source, image, error)) << error;
    char* copy = ProgramImage::CopyPlain(image.data(), image.size());
    ASSERT_NE(copy, nullptr);
    {
        WindowKestrin k;
        ProgramImage::RunInterpreter(k, copy);
        EXPECT_EQ(k.errorCode, 0);
        ASSERT_NE(k.hwnd, nullptr);
        EXPECT_EQ(k.Int("a"), 1);
        EXPECT_EQ(k.Int("b"), 1);
        EXPECT_EQ((uint32_t)k.Int("h"), (uint32_t)(uintptr_t)k.hwnd);
        EXPECT_EQ((uint32_t)k.Int("g"), (uint32_t)(uintptr_t)k.hwnd);
        EXPECT_EQ(k.Int("none"), 0);
    }
    free(copy);
}

}
