// Fuzzing driver: runs many generated and mutated program images, each on a fresh
// interpreter, and reports any structured exception, hang or heap damage together
// with the image that caused it.
//
//   kfuzz --seed S (--count N | --seconds T) [--corpus DIR] [--out DIR]
//         [--budget STATEMENTS] [--timeout SECONDS] [--max-growth-kb KB]
//
// Image i of seed S is always the same, so a failure is replayed with
// --seed S --first i --count 1, or from its saved image with --replay FILE. Failing images are written to OUT as
// crash-S-i.img (plain image) and crash-S-i.kbs (source notation).
#include <windows.h>
#include <psapi.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>
#include "interp/Kestrin.h"
#include "startup/ProgramImage.h"
#include "tools/kbind/SourceNotation.h"

namespace {

// ---- random numbers ----
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    uint64_t Next()
    {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    unsigned Below(unsigned n) { return n ? (unsigned)(Next() % n) : 0; }
    bool Chance(unsigned percent) { return Below(100) < percent; }
};

// ---- commands that would touch the host or wait for a person ----
// Dialogs, message boxes, shell execution, sound, the console window, printers,
// foreign code in DLLs, and waits for window events are not run; file and
// directory commands run only on plain relative names inside the work directory.
const int BlockedCommands[] = {24, 36, 39, 76, 77, 86, 88, 120, 153, 168, 187,
                               191, 192, 193, 194, 195, 196, 203};
const int FileCommands[] = {14, 199, 200, 201, 202, 205, 240};

class FuzzKestrin : public Kestrin {
public:
    FuzzKestrin()
    {
        for (int n : BlockedCommands) commandTable[n] = &Kestrin::CmdNoOp;
        for (int n : FileCommands) {
            realFile[n] = commandTable[n];
            commandTable[n] = (CommandHandler)&FuzzKestrin::GuardedFileCommand;
        }
        realDeclare = commandTable[83];
        commandTable[83] = (CommandHandler)&FuzzKestrin::GuardedDeclare;
    }
    void ReportError() override {}

    StmtRec* GuardedFileCommand(StmtRec* s)
    {
        for (int i = 0; i < s->argc; ++i) {
            ValueRec v;
            uint8_t saved = errorCode;
            if (FetchArgument(&v, s, i, WANT_ANY) && v.type == T_STRING && v.text) {
                const char* t = v.text;
                if (strpbrk(t, ":\\/") || strstr(t, "..") || t[0] == 0) {
                    errorCode = saved;
                    return s;
                }
            }
            errorCode = saved;
        }
        return (this->*realFile[s->command])(s);
    }
    StmtRec* GuardedDeclare(StmtRec* s)
    {
        if (s->argc >= 2) return s;   // the library form loads foreign code
        return (this->*realDeclare)(s);
    }

private:
    CommandHandler realFile[COMMAND_SLOTS] = {};
    CommandHandler realDeclare = nullptr;
};

// ---- image generation ----
const char* const Names[] = {"a", "b", "i", "n", "s$", "t$", "x", "arr", "arr[1]", "arr[-1]",
                             "m[2,3]", "p", "#p", "u.x", "u[1].s", "DECIMAL_PREC", "SYSTEM_STRING0",
                             "SYSTEM_INT0", "f", "w", "sub1", "lbl", "c", "q[300]"};
const char* const Types[] = {"INT", "STRING", "FLOAT", "DOUBLE", "CHAR", "WORD", "INT64", "UINT64",
                             "UINT", "POINTER", "MEMORY", "FILE", "BFILE", "WINDOW", "ISTRING", "pt", "ARRAY_0"};
const char* const Ops[] = {"+", "-", "*", "/", "%", "^", "&", "|", "||", "=", "<", ">", "<=", ">=", "<>", "~", ",", "!", "."};
const int Common[] = {0, 2, 3, 4, 5, 6, 7, 13, 20, 21, 22, 41, 42, 43, 44, 45, 52, 55, 61, 62, 63, 64,
                      65, 68, 69, 74, 75, 78, 79, 80, 81, 82, 83, 84, 85, 87, 95, 101, 106, 107, 121,
                      123, 142, 143, 144, 145, 155, 204, 213, 214, 215, 216, 217, 25, 15, 16, 17, 116,
                      117, 118, 119, 37, 53, 73, 206, 207};

std::string Token(int n)
{
    std::string t = "\xFF";
    t += (char)(0xE0 + (n >> 4));
    t += (char)(0xE0 + (n & 15));
    return t;
}

std::string Constant(int e)
{
    std::string t = "\xFE";
    t += (char)(0xE0 + (e >> 4));
    t += (char)(0xE0 + (e & 15));
    return t;
}

std::string Number(Rng& r)
{
    switch (r.Below(8)) {
    case 0: return std::to_string((int)r.Below(10));
    case 1: return std::to_string((long long)(r.Next() >> r.Below(64)));
    case 2: return "-" + std::to_string(r.Below(100000));
    case 3: return std::to_string(r.Below(1000)) + "." + std::to_string(r.Below(1000));
    case 4: return "0x" + std::to_string(r.Below(0xFFFF));
    case 5: return "&H" + std::to_string(r.Below(99));
    case 6: return "99999999999999999999999";
    default: return "1e" + std::to_string(r.Below(400));
    }
}

std::string Expr(Rng& r, int depth);

std::string Atom(Rng& r, int depth)
{
    switch (r.Below(10)) {
    case 0: case 1: return Number(r);
    case 2: return "\"" + std::string(r.Below(4) ? r.Below(12) : 300, "ab,c()\"x"[r.Below(7)]) + "\"";
    case 3: case 4: return Names[r.Below(sizeof Names / sizeof *Names)];
    case 5: return Constant((int)r.Below(r.Chance(95) ? 498 : 512));
    case 6: return Token(Common[r.Below(sizeof Common / sizeof *Common)]) + "(" + (depth > 0 ? Expr(r, depth - 1) : "") + ")";
    case 7: return "(" + (depth > 0 ? Expr(r, depth - 1) : "1") + ")";
    case 8: return "@NAME" + std::to_string(r.Below(3));
    default: return "-" + std::string(Names[r.Below(sizeof Names / sizeof *Names)]);
    }
}

std::string Expr(Rng& r, int depth)
{
    std::string e = Atom(r, depth);
    unsigned n = r.Below(r.Chance(90) ? 4 : 20);
    for (unsigned i = 0; i < n; ++i) e += std::string(Ops[r.Below(sizeof Ops / sizeof *Ops)]) + Atom(r, depth);
    return e;
}

std::string Args(Rng& r)
{
    std::string a;
    unsigned n = r.Below(r.Chance(95) ? 5 : 30);
    for (unsigned i = 0; i < n; ++i) {
        if (i) a += r.Chance(95) ? ", " : ",";
        a += r.Chance(70) ? Expr(r, 2) : std::string(Names[r.Below(sizeof Names / sizeof *Names)]);
    }
    return a;
}

// A line of a plausible program.
std::string RandomLine(Rng& r)
{
    switch (r.Below(12)) {
    case 0: return std::string(Names[r.Below(sizeof Names / sizeof *Names)]) + " = " + Expr(r, 3);
    case 1: return Token(21) + " " + Names[r.Below(8)] + (r.Chance(30) ? "[" + std::to_string(r.Below(5) + 1) + "]" : "") +
                   ":" + Types[r.Below(sizeof Types / sizeof *Types)];
    case 2: return "lbl" + std::to_string(r.Below(4)) + ":";
    case 3: return "sub sub" + std::to_string(r.Below(3));
    case 4: return Token(13) + " lbl" + std::to_string(r.Below(5));
    case 5: return "sub" + std::to_string(r.Below(3)) + " " + Args(r);
    case 6: return Token(74) + " pt" + (r.Chance(50) ? ", 1" : "");
    case 7: return Token(r.Below(512)) + " " + Args(r);
    default: return Token(Common[r.Below(sizeof Common / sizeof *Common)]) + " " + Args(r);
    }
}

std::string RandomProgram(Rng& r)
{
    std::string img;
    unsigned lines = 1 + r.Below(40);
    for (unsigned i = 0; i < lines; ++i) img += RandomLine(r) + "\r\n";
    return img;
}

std::string Nested(Rng& r)
{
    std::string img;
    unsigned depth = 50 + r.Below(400);
    switch (r.Below(5)) {
    case 0:   // parentheses
        img = "x = " + std::string(depth, '(') + "1" + std::string(depth - r.Below(2), ')') + "\r\n" +
              Token(0) + " " + std::string(depth, '(') + "2" + std::string(depth, ')') + "\r\n";
        break;
    case 1:   // blocks
        for (unsigned i = 0; i < depth; ++i) img += Token(r.Chance(50) ? 4 : 6) + " 1\r\n";
        for (unsigned i = 0; i < depth - r.Below(3); ++i) img += Token(r.Chance(50) ? 5 : 7) + "\r\n";
        break;
    case 2:   // recursion
        img = Token(83) + " rec(n:INT)\r\nrec 1\r\n" + Token(22) + "\r\nsub rec\r\nrec n + 1\r\n" + Token(45) + "\r\n";
        break;
    case 3:   // long names and arguments
        img = std::string(1000, 'n') + " = 1\r\n" + Token(0) + " \"" + std::string(1000, 'z') + "\"\r\n" +
              Token(21) + " " + std::string(40, 'q') + "[" + std::string(200, '9') + "]:INT\r\n";
        break;
    default:  // unbalanced quotes and brackets
        img = "s$ = \"abc\r\n" + Token(0) + " a[1, \"]\r\nv = b]]\r\n" + Token(0) + " \"\"\"\r\n";
        break;
    }
    return img;
}

std::string Mutate(Rng& r, std::string img)
{
    const size_t MaxImage = 256 * 1024;   // keeps repeated duplication from growing without end
    unsigned steps = 1 + r.Below(8);
    for (unsigned k = 0; k < steps && !img.empty() && img.size() < MaxImage; ++k) {
        size_t pos = r.Below((unsigned)img.size());
        switch (r.Below(9)) {
        case 0: img[pos] = (char)(img[pos] ^ (1 << r.Below(8))); break;
        case 1: img[pos] = (char)r.Below(256); break;
        case 2: img.resize(pos); break;
        case 3: {   // duplicate a line
            size_t a = img.rfind('\n', pos);
            a = a == std::string::npos ? 0 : a + 1;
            size_t b = img.find('\n', pos);
            b = b == std::string::npos ? img.size() : b + 1;
            std::string line = img.substr(a, b - a);
            for (unsigned n = r.Below(r.Chance(80) ? 3 : 200); n && img.size() < MaxImage; --n) img.insert(a, line);
            break;
        }
        case 4: img.insert(pos, Token(r.Below(512))); break;
        case 5: img.insert(pos, Constant(r.Below(512))); break;
        case 6: img.insert(pos, Number(r)); break;
        case 7: img.insert(pos, std::string(r.Below(1200), "a(\"[,x9"[r.Below(7)])); break;
        default: img.insert(pos, RandomLine(r) + "\r\n"); break;
        }
    }
    return img;
}

// ---- the driver ----
struct Driver {
    uint64_t seed = 1;
    uint64_t first = 0;
    uint64_t count = 0;
    double seconds = 0;
    uint64_t budget = 20000;
    DWORD timeoutMs = 20000;
    uint64_t maxGrowthKb = 16384;
    std::string outDir = ".";
    std::string replay;   // run this plain image file once instead of generating
    std::vector<std::string> corpus;

    // what the exception handler and the watchdog report
    volatile LONG64 current = -1;
    volatile LONG64 finished = 0;
    std::string image;
    HANDLE report = INVALID_HANDLE_VALUE;

    void Say(const char* fmt, ...)
    {
        char buf[1024];
        va_list ap;
        va_start(ap, fmt);
        int n = vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        DWORD w;
        if (n > 0) WriteFile(report, buf, (DWORD)std::min(n, (int)sizeof buf - 1), &w, nullptr);
    }

    std::string ImageFor(uint64_t index)
    {
        Rng r(seed * 1000003ull + index);
        unsigned kind = r.Below(10);
        if (!corpus.empty() && kind < 5) return Mutate(r, corpus[r.Below((unsigned)corpus.size())]);
        if (kind < 8) return RandomProgram(r);
        if (kind < 9) return Nested(r);
        return Mutate(r, RandomProgram(r));
    }

    static void WriteWhole(const std::string& path, const std::string& data)
    {
        // Win32 calls only: this also runs from the watchdog while the run is stuck.
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return;
        DWORD w;
        WriteFile(h, data.data(), (DWORD)data.size(), &w, nullptr);
        CloseHandle(h);
    }

    void SaveFailure(const char* what)
    {
        char stem[MAX_PATH];
        snprintf(stem, sizeof stem, "%s\\crash-%llu-%lld", outDir.c_str(), (unsigned long long)seed, (long long)current);
        Say("FAIL %s at image %lld of seed %llu (%zu bytes); saved as %s.img\n", what, (long long)current,
            (unsigned long long)seed, image.size(), stem);
        WriteWhole(std::string(stem) + ".img", image);
        WriteWhole(std::string(stem) + ".kbs", ImageToSource(image + '\0'));
    }

    static size_t PrivateKb()
    {
        PROCESS_MEMORY_COUNTERS_EX pmc;
        memset(&pmc, 0, sizeof pmc);
        GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&pmc, sizeof pmc);
        size_t bytes = pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage;
        return bytes / 1024;
    }

    static bool HeapsValid()
    {
        HANDLE heaps[256];
        DWORD n = GetProcessHeaps(256, heaps);
        for (DWORD i = 0; i < n && i < 256; ++i)
            if (!HeapValidate(heaps[i], 0, nullptr)) return false;
        return true;
    }

    int RunOne(std::set<int>& codes)
    {
        char* copy = ProgramImage::CopyPlain(image.data(), image.size());
        if (!copy) return 0;
        FuzzKestrin* k = new FuzzKestrin();
        k->statementBudget = budget;
        ProgramImage::RunInterpreter(*k, copy);
        codes.insert(k->errorCode);
        delete k;
        free(copy);
        return 1;
    }
};

Driver* g_driver = nullptr;   // for the exception handler and the watchdog only

LONG CALLBACK OnException(EXCEPTION_POINTERS* info)
{
    DWORD code = info->ExceptionRecord->ExceptionCode;
    const char* what = nullptr;
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: what = "access violation"; break;
    case EXCEPTION_STACK_OVERFLOW: what = "stack overflow"; break;
    case EXCEPTION_ILLEGAL_INSTRUCTION: what = "illegal instruction"; break;
    case EXCEPTION_PRIV_INSTRUCTION: what = "privileged instruction"; break;
    case EXCEPTION_INT_DIVIDE_BY_ZERO: what = "integer division by zero"; break;
    case EXCEPTION_INT_OVERFLOW: what = "integer overflow"; break;
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: what = "array bounds exceeded"; break;
    case 0xC0000374: what = "heap corruption"; break;
    case 0xC0000409: what = "stack buffer overrun"; break;
    default: return EXCEPTION_CONTINUE_SEARCH;
    }
    if (g_driver) {
        g_driver->SaveFailure(what);
        g_driver->Say("  exception 0x%08lX at %p\n", (unsigned long)code, info->ExceptionRecord->ExceptionAddress);
    }
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_CONTINUE_SEARCH;
}

DWORD WINAPI Watchdog(LPVOID)
{
    LONG64 lastSeen = -2;
    DWORD since = GetTickCount();
    for (;;) {
        Sleep(250);
        LONG64 now = g_driver->finished;
        if (now != lastSeen) {
            lastSeen = now;
            since = GetTickCount();
        } else if (GetTickCount() - since > g_driver->timeoutMs) {
            g_driver->SaveFailure("hang");
            TerminateProcess(GetCurrentProcess(), 4);
        }
    }
    return 0;
}

void LoadCorpus(Driver& d, const std::string& dir)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*.kbs").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        FILE* f = fopen((dir + "\\" + fd.cFileName).c_str(), "rb");
        if (!f) continue;
        std::string src;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) src.append(buf, n);
        fclose(f);
        std::string img, err;
        if (SourceToImage(src, img, err)) {
            if (!img.empty() && img.back() == '\0') img.pop_back();
            d.corpus.push_back(img);
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

}

int main(int argc, char** argv)
{
    Driver d;
    std::string corpusDir;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        const char* v = argv[i + 1];
        if (a == "--seed") d.seed = strtoull(v, nullptr, 10);
        else if (a == "--first") d.first = strtoull(v, nullptr, 10);
        else if (a == "--count") d.count = strtoull(v, nullptr, 10);
        else if (a == "--seconds") d.seconds = atof(v);
        else if (a == "--budget") d.budget = strtoull(v, nullptr, 10);
        else if (a == "--timeout") d.timeoutMs = (DWORD)(atof(v) * 1000);
        else if (a == "--max-growth-kb") d.maxGrowthKb = strtoull(v, nullptr, 10);
        else if (a == "--corpus") corpusDir = v;
        else if (a == "--out") d.outDir = v;
        else if (a == "--replay") d.replay = v;
        else {
            fprintf(stderr, "kfuzz: unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (!d.replay.empty()) {
        FILE* f = fopen(d.replay.c_str(), "rb");
        if (!f) {
            fprintf(stderr, "kfuzz: cannot read %s\n", d.replay.c_str());
            return 2;
        }
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) d.image.append(buf, n);
        fclose(f);
        d.count = 1;
    }
    if (!d.count && d.seconds <= 0) {
        fprintf(stderr, "usage: kfuzz --seed S (--count N | --seconds T) [--first I] [--corpus DIR] [--out DIR]\n"
                        "             [--budget STATEMENTS] [--timeout SECONDS] [--max-growth-kb KB]\n");
        return 2;
    }
    if (!corpusDir.empty()) LoadCorpus(d, corpusDir);

    // Reports go to the original standard output; the programs' own output and
    // input are the null device.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DuplicateHandle(GetCurrentProcess(), out, GetCurrentProcess(), &d.report, 0, FALSE, DUPLICATE_SAME_ACCESS);
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, nul);
    SetStdHandle(STD_INPUT_HANDLE, nul);
    freopen("NUL", "w", stdout);
    freopen("NUL", "r", stdin);

    g_driver = &d;
    ULONG guarantee = 256 * 1024;
    SetThreadStackGuarantee(&guarantee);
    AddVectoredExceptionHandler(1, OnException);
    CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);

    d.Say("kfuzz: seed %llu, corpus of %u programs, budget %llu statements\n", (unsigned long long)d.seed,
          (unsigned)d.corpus.size(), (unsigned long long)d.budget);
    std::set<int> codes;
    DWORD start = GetTickCount();
    size_t kbAt1000 = 0, kbStart = Driver::PrivateKb();
    uint64_t done = 0;
    for (uint64_t i = d.first;; ++i) {
        if (d.count && done >= d.count) break;
        if (d.seconds > 0 && (GetTickCount() - start) / 1000.0 >= d.seconds) break;
        d.current = (LONG64)i;
        if (d.replay.empty()) d.image = d.ImageFor(i);
        d.RunOne(codes);
        ++done;
        d.finished = (LONG64)done;
        if (done % 200 == 0 && !Driver::HeapsValid()) {
            d.SaveFailure("heap damage (HeapValidate)");
            return 5;
        }
        if (done == 1000) kbAt1000 = Driver::PrivateKb();
        if (done % 10000 == 0)
            d.Say("  %llu images, %lu s, %zu KB private\n", (unsigned long long)done,
                  (unsigned long)((GetTickCount() - start) / 1000), Driver::PrivateKb());
    }
    size_t kbEnd = Driver::PrivateKb();
    std::string list;
    for (int c : codes) list += " " + std::to_string(c);
    d.Say("kfuzz: %llu images in %.1f s, %zu distinct error codes:%s\n", (unsigned long long)done,
          (GetTickCount() - start) / 1000.0, codes.size(), list.c_str());
    d.Say("kfuzz: private memory %zu KB at start, %zu KB after 1000 images, %zu KB at the end\n", kbStart,
          kbAt1000, kbEnd);
    int failed = 0;
    if (done >= 10000 && kbAt1000 && kbEnd > kbAt1000 + d.maxGrowthKb) {
        d.Say("FAIL memory grew by %zu KB between image 1000 and the end\n", kbEnd - kbAt1000);
        failed = 1;
    }
    d.Say("%d passed, %d failed\n", failed ? 0 : 1, failed);
    return failed ? 6 : 0;
}
