// Date and time, the shell, sounds, keys, message boxes, the program directory
// and the switch for automatic declaration.
#include "interp/Kestrin.h"
#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>

namespace {

const size_t DATE_TEXT_LIMIT = 256;
const size_t DIRECTORY_LIMIT = 260;
const int DEFAULT_BOX_STYLE = 48;   // MB_ICONEXCLAMATION | MB_OK

bool SameText(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        unsigned char x = (unsigned char)*a, y = (unsigned char)*b;
        if (x >= 'a' && x <= 'z') x = (unsigned char)(x - 32);
        if (y >= 'a' && y <= 'z') y = (unsigned char)(y - 32);
        if (x != y) return false;
    }
    return *a == 0 && *b == 0;
}

std::string Trimmed(const char* p)
{
    while (*p == ' ' || *p == '\t') ++p;
    size_t n = strlen(p);
    while (n && (p[n - 1] == ' ' || p[n - 1] == '\t')) --n;
    return std::string(p, n);
}

}

StmtRec* Kestrin::SysStringResult(StmtRec* s, const char* text, size_t limit)
{
    char* out = sysString ? StorageStart(sysString) : nullptr;
    size_t room = sysString ? StorageBytes(sysString) : 0;
    if (!out || room == 0) {
        errorCode = 2;
        return nullptr;
    }
    sysString->data = out;
    size_t n = text ? strnlen(text, limit) : 0;
    if (n > room - 1) n = room - 1;
    if (n) memmove(out, text, n);
    out[n] = 0;
    s->resultType = T_STRING;
    return s;
}

void* Kestrin::OwnerWindow(uint32_t handle)
{
    CKestrinWnd* w = KnownWindowObject(handle);
    return w ? SlotToPtr(WindowObjectHandle(w)) : nullptr;
}

StmtRec* Kestrin::CmdDateText(StmtRec* s)
{
    if (s->argc > 1) {
        errorCode = 56;
        return nullptr;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[DATE_TEXT_LIMIT];
    if (s->argc == 0) {
        snprintf(text, sizeof text, "%02d-%02d-%04d", now.wMonth, now.wDay, now.wYear);
        return SysStringResult(s, text, sizeof text);
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_STRING)) return nullptr;
    std::string picture(v.text ? v.text : "");   // the picture may live in SYSTEM_STRING0
    if (GetDateFormatA(0, 0, &now, picture.c_str(), text, (int)sizeof text) == 0) text[0] = 0;
    text[sizeof text - 1] = 0;
    return SysStringResult(s, text, sizeof text);
}

StmtRec* Kestrin::CmdTimeText(StmtRec* s)
{
    if (s->argc != 0) {
        errorCode = 56;
        return nullptr;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[16];
    snprintf(text, sizeof text, "%02d:%02d:%02d", now.wHour, now.wMinute, now.wSecond);
    return SysStringResult(s, text, sizeof text);
}

StmtRec* Kestrin::CmdSecondsToday(StmtRec* s)
{
    if (s->argc != 0) {
        errorCode = 56;
        return nullptr;
    }
    if (!sysFloat || !sysFloat->data) {
        errorCode = 2;
        return nullptr;
    }
    double t = std::fmod((double)time(nullptr), 86400.0);
    if (t < 0) t += 86400.0;
    float f = (float)t;
    if (f >= 86400.0f) f = 0.0f;
    memcpy(sysFloat->data, &f, 4);
    s->resultType = T_FLOAT;
    return s;
}

StmtRec* Kestrin::CmdShellOpen(StmtRec* s)
{
    if (s->argc != 1 && s->argc != 2) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, T_STRING)) return nullptr;
    std::string file(v.text ? v.text : "");
    std::string params;
    if (s->argc == 2) {
        if (!FetchArgument(&v, s, 1, T_STRING)) return nullptr;
        params.assign(v.text ? v.text : "");
    }
    HINSTANCE r = ShellExecuteA(nullptr, "open", file.c_str(), s->argc == 2 ? params.c_str() : nullptr,
                                nullptr, SW_SHOWNORMAL);
    return SysIntResult(s, (INT_PTR)r <= 32 ? 1 : 0);
}

StmtRec* Kestrin::CmdPlaySound(StmtRec* s)
{
    if (s->argc != 2) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec sound, flags;
    if (!FetchArgument(&sound, s, 0, WANT_ANY)) return nullptr;
    std::string name;
    uint32_t block = 0;
    if (sound.type == T_STRING) {
        name.assign(sound.text ? sound.text : "");
    } else if (sound.type == T_MEMORY) {
        block = sound.handle;
        // winmm reads the sound straight from the block: only blocks of ours qualify.
        if (block && !KnownBlock(block)) {
            errorCode = 7;
            return nullptr;
        }
    } else {
        errorCode = 14;
        return nullptr;
    }
    if (!FetchArgument(&flags, s, 1, WANT_NUMBER)) return nullptr;
    DWORD f = (DWORD)flags.i | SND_NODEFAULT;

    if (sound.type == T_STRING) {
        f &= ~(DWORD)SND_MEMORY;
        if (name.empty()) {
            PlaySoundA(nullptr, nullptr, f);
            sysmem.soundBlock = 0;
        } else {
            PlaySoundA(name.c_str(), nullptr, f | SND_FILENAME);
        }
        return s;
    }
    f &= ~(DWORD)(SND_FILENAME | SND_ALIAS | SND_ALIAS_ID | SND_RESOURCE);
    if (!block) {
        PlaySoundA(nullptr, nullptr, f);
        sysmem.soundBlock = 0;
        return s;
    }
    // The RIFF header must describe no more bytes than the block holds.
    const SysmemTables::Block* b = KnownBlock(block);
    const char* p = (const char*)SlotToPtr(block);
    uint32_t riff = 0;
    if (b->size >= 12) memcpy(&riff, p + 4, 4);
    if (b->size < 12 || memcmp(p, "RIFF", 4) != 0 || memcmp(p + 8, "WAVE", 4) != 0 ||
        (uint64_t)riff + 8 > b->size)
        return s;
    PlaySoundA(p, nullptr, f | SND_MEMORY);
    sysmem.soundBlock = block;
    return s;
}

StmtRec* Kestrin::CmdKeyState(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, WANT_NUMBER)) return nullptr;
    return SysIntResult(s, (int32_t)(int16_t)GetAsyncKeyState(v.i));
}

StmtRec* Kestrin::CmdMessageBox(StmtRec* s)
{
    if (s->argc != 3 && s->argc != 4) {
        errorCode = 56;
        return nullptr;
    }
    ValueRec v;
    if (!FetchArgument(&v, s, 0, WANT_WINDOW_OR_DIALOG)) return nullptr;
    HWND owner = (HWND)OwnerWindow(v.handle);
    if (!FetchArgument(&v, s, 1, T_STRING)) return nullptr;
    std::string text(v.text ? v.text : "");
    if (!FetchArgument(&v, s, 2, T_STRING)) return nullptr;
    std::string caption(v.text ? v.text : "");
    int style = DEFAULT_BOX_STYLE;
    if (s->argc == 4) {
        if (!FetchArgument(&v, s, 3, WANT_NUMBER)) return nullptr;
        style = v.i;
    }
    return SysIntResult(s, MessageBoxA(owner, text.c_str(), caption.c_str(), (UINT)style));
}

StmtRec* Kestrin::CmdProgramDirectory(StmtRec* s)
{
    if (s->argc != 0) {
        errorCode = 56;
        return nullptr;
    }
    std::string dir = programDirectory;
    if (dir.empty()) {
        char path[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
        if (n > 0 && n < sizeof path) {
            dir.assign(path, n);
            size_t slash = dir.find_last_of('\\');
            dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
        }
    }
    return SysStringResult(s, dir.c_str(), DIRECTORY_LIMIT);
}

StmtRec* Kestrin::CmdAutoDeclare(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 56;
        return nullptr;
    }
    // ON and OFF written as words, or any text value that holds them.
    std::string word = Trimmed(s->args[0]);
    if (!SameText(word.c_str(), "ON") && !SameText(word.c_str(), "OFF")) {
        ValueRec v;
        if (FetchArgument(&v, s, 0, T_STRING) && v.text) word = v.text;
        errorCode = 0;
    }
    if (SameText(word.c_str(), "ON")) {
        autoDeclare = 1;
    } else if (SameText(word.c_str(), "OFF")) {
        autoDeclare = 0;
    } else {
        errorCode = 15;
        return nullptr;
    }
    return s;
}

StmtRec* Kestrin::CmdAlwaysZero(StmtRec* s)
{
    if (s->argc != 0) {
        errorCode = 1;
        return nullptr;
    }
    return SysIntResult(s, 0);
}
