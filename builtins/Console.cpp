// The console window: opening, closing, clearing, cursor and colours.
#include "interp/Kestrin.h"
#include <windows.h>
#include <climits>
#include <cstdio>

namespace {

const int TITLE_SIZE = 1025;   // 1024 characters and NUL

// Ctrl+C and the close button do not end the program on their own.
BOOL WINAPI ConsoleControl(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_CLOSE_EVENT;
}

HANDLE ConsoleOutput()
{
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// An argument of nothing but blanks counts as empty.
bool IsEmptyArgument(const char* s)
{
    while (*s == ' ' || *s == '\t') ++s;
    return *s == 0;
}

SHORT ToCoord(int32_t v)
{
    if (v < SHRT_MIN) return SHRT_MIN;
    if (v > SHRT_MAX) return SHRT_MAX;
    return (SHORT)v;
}

}

void Kestrin::OpenConsole()
{
    // A program started with its output redirected (to a file or pipe) keeps
    // writing there; otherwise it gets a console window of its own.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD outType = (out && out != INVALID_HANDLE_VALUE) ? GetFileType(out) : FILE_TYPE_UNKNOWN;
    bool redirected = outType == FILE_TYPE_DISK || outType == FILE_TYPE_PIPE;
    if (!redirected && AllocConsole()) {
        // A new console: the C streams follow the new standard handles.
        if (freopen("CONOUT$", "w", stdout)) setvbuf(stdout, nullptr, _IONBF, 0);
        if (freopen("CONIN$", "r", stdin)) setvbuf(stdin, nullptr, _IONBF, 0);
    }
    // With a console already attached the standard handles, which may be
    // redirected, stay as they are.

    SetConsoleCtrlHandler(ConsoleControl, FALSE);   // installed once
    SetConsoleCtrlHandler(ConsoleControl, TRUE);

    // Bring the console window to the front: find it by a unique title.
    if (GetConsoleWindow()) {
        char saved[TITLE_SIZE];
        saved[0] = 0;
        GetConsoleTitleA(saved, sizeof saved);
        saved[TITLE_SIZE - 1] = 0;
        char unique[64];
        snprintf(unique, sizeof unique, "%d/%d", (int)GetTickCount(), (int)GetCurrentProcessId());
        if (SetConsoleTitleA(unique)) {
            Sleep(100);
            HWND w = FindWindowA(nullptr, unique);
            SetConsoleTitleA(saved);
            if (w) BringWindowToTop(w);
        }
    }
    consoleFlag = 1;
}

StmtRec* Kestrin::CmdOpenConsole(StmtRec* s)
{
    if (s->argc != 0) {
        errorCode = 56;
        return nullptr;
    }
    OpenConsole();
    return s;
}

StmtRec* Kestrin::CmdCloseConsole(StmtRec* s)
{
    if (s->argc != 0) {
        errorCode = 56;
        return nullptr;
    }
    fflush(stdout);
    FreeConsole();
    SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
    SetStdHandle(STD_INPUT_HANDLE, nullptr);
    consoleFlag = 0;
    return s;
}

StmtRec* Kestrin::CmdClearConsole(StmtRec* s)
{
    if (s->argc != 0) {
        errorCode = 56;
        return nullptr;
    }
    if (!consoleFlag) OpenConsole();
    HANDLE h = ConsoleOutput();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!h || !GetConsoleScreenBufferInfo(h, &info)) return s;   // no console screen
    COORD origin = {0, 0};
    DWORD cells = (DWORD)info.dwSize.X * (DWORD)info.dwSize.Y;
    DWORD done = 0;
    FillConsoleOutputCharacterA(h, ' ', cells, origin, &done);
    if (GetConsoleScreenBufferInfo(h, &info)) FillConsoleOutputAttribute(h, info.wAttributes, cells, origin, &done);
    SetConsoleCursorPosition(h, origin);
    return s;
}

StmtRec* Kestrin::CmdLocate(StmtRec* s)
{
    if (s->argc != 2) {
        errorCode = 56;
        return nullptr;
    }
    if (!consoleFlag) OpenConsole();
    ValueRec row, column;
    if (!FetchArgument(&row, s, 0, WANT_NUMBER)) return nullptr;
    if (!FetchArgument(&column, s, 1, WANT_NUMBER)) return nullptr;
    HANDLE h = ConsoleOutput();
    if (h) {
        COORD at = {ToCoord((int32_t)((int64_t)column.i - 1)), ToCoord((int32_t)((int64_t)row.i - 1))};
        SetConsoleCursorPosition(h, at);
    }
    return s;
}

StmtRec* Kestrin::CmdConsoleColor(StmtRec* s)
{
    if (!consoleFlag) OpenConsole();
    if (s->argc < 1 || s->argc > 2) {
        errorCode = 56;
        return nullptr;
    }
    HANDLE h = ConsoleOutput();
    int32_t fore = 0;
    ValueRec v;
    if (!IsEmptyArgument(s->args[0])) {
        if (!FetchArgument(&v, s, 0, WANT_NUMBER)) return nullptr;
        fore = v.i;
        if (h) SetConsoleTextAttribute(h, (WORD)fore);
    }
    if (s->argc == 2 && !IsEmptyArgument(s->args[1])) {
        if (!FetchArgument(&v, s, 1, WANT_NUMBER)) return nullptr;
        if (h) SetConsoleTextAttribute(h, (WORD)(v.i * 16 + fore));
    }
    return s;
}
