// Answers the next dialog box that the test process shows, from a thread of its
// own, so that a test can run a command that blocks in a box.
#pragma once
#include <windows.h>
#include <atomic>
#include <string>
#include <thread>

namespace sysmemtest {

class BoxAnswer {
public:
    // Presses the button with id `button` in the first box that appears.
    explicit BoxAnswer(int button) : button_(button), worker_([this] { Run(); }) {}
    ~BoxAnswer()
    {
        stop_ = true;
        worker_.join();
    }
    BoxAnswer(const BoxAnswer&) = delete;
    BoxAnswer& operator=(const BoxAnswer&) = delete;

    bool answered() const { return answered_; }
    const std::string& caption() const { return caption_; }
    const std::string& text() const { return text_; }
    HWND owner() const { return owner_; }

private:
    static BOOL CALLBACK Visit(HWND hwnd, LPARAM lp)
    {
        BoxAnswer* self = (BoxAnswer*)lp;
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        char cls[32];
        if (pid != GetCurrentProcessId() || !IsWindowVisible(hwnd) ||
            !GetClassNameA(hwnd, cls, sizeof cls) || strcmp(cls, "#32770") != 0)
            return TRUE;
        self->found_ = hwnd;
        return FALSE;
    }
    void Run()
    {
        for (int i = 0; i < 400 && !stop_ && !answered_; ++i) {
            found_ = nullptr;
            EnumWindows(Visit, (LPARAM)this);
            if (found_) {
                char buf[512];
                GetWindowTextA(found_, buf, sizeof buf);
                caption_ = buf;
                GetDlgItemTextA(found_, 0xFFFF, buf, sizeof buf);   // the text of a message box
                text_ = buf;
                owner_ = GetWindow(found_, GW_OWNER);
                PostMessageA(found_, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED), 0);
                answered_ = true;
                return;
            }
            Sleep(50);
        }
    }

    int button_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> answered_{false};
    HWND found_ = nullptr;
    HWND owner_ = nullptr;
    std::string caption_, text_;
    std::thread worker_;
};

}
