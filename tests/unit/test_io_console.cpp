// The file dialog, the console screen commands and key polling on a real console.
#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include "interp/Kestrin.h"
#include "tools/kbind/SourceNotation.h"

namespace {

struct IoTest : ::testing::Test {
    Kestrin k;
    std::string line;

    void SetUp() override { ASSERT_EQ(k.Init(), 1); }
    void TearDown() override { k.Cleanup(); }

    // Parses one line of source notation and runs it.
    StmtRec* Run(const std::string& src)
    {
        std::string image, error;
        EXPECT_TRUE(SourceToImage(src, image, error)) << error;
        line = image.substr(0, image.find("\r\n"));
        k.errorCode = 0;
        if (k.ParseLine(k.mainStmt, &line[0]) != 0) return nullptr;
        return k.Execute(k.mainStmt);
    }

    std::string Result() const { return k.sysString->data; }
};

// Sends IDCANCEL to the top-level window with the title until stopped.
class DialogCanceller {
public:
    explicit DialogCanceller(const std::string& title) : title_(title), thread_([this] { Loop(); }) {}
    ~DialogCanceller()
    {
        stop_ = true;
        thread_.join();
    }
    bool Seen() const { return seen_; }

private:
    void Loop()
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            if (HWND w = FindWindowA(nullptr, title_.c_str())) {
                seen_ = true;
                PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    std::string title_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> seen_{false};
    std::thread thread_;
};

}

TEST_F(IoTest, CancelledFileDialogGivesEmptyTextAndStatus999)
{
    struct Case {
        const char* title;
        const char* rest;   // arguments after the title
    } cases[] = {
        {"KestrinIoSave", ""},
        {"KestrinIoOpen", ", 0, 1"},
        {"KestrinIoMulti", ", 0, 1, \"Text|*.txt|All|*.*\", \"txt\", 512"},
        {"KestrinIoFolder", ", 0, 0, \"Text|*.txt\", \"txt\", 0, \"C:\\\""},
        // Optional arguments of the wrong type are ignored.
        {"KestrinIoIgnored", ", 0, 1, 5, 6, \"x\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        k.constants[CONST_IO_STATUS] = 1;
        strcpy(k.sysString->data, "junk");
        StmtRec* r;
        bool seen;
        {
            DialogCanceller canceller(c.title);
            r = Run(std::string("{FileDialog} \"") + c.title + "\"" + c.rest);
            seen = canceller.Seen();
        }
        EXPECT_TRUE(seen);
        ASSERT_NE(r, nullptr) << "error " << (int)k.errorCode;
        EXPECT_EQ(k.errorCode, 0);
        EXPECT_EQ(Result(), "");
        EXPECT_EQ(k.constants[CONST_IO_STATUS], 999u);
        EXPECT_EQ(r->resultType, (int)T_STRING);
    }
}

TEST_F(IoTest, FileDialogArgumentErrors)
{
    struct Case {
        const char* src;
        int code;
    } cases[] = {
        {"{FileDialog}", 1},
        {"{FileDialog} 5", 14},
        {"{FileDialog} \"T\", \"owner\"", 14},
        {"{FileDialog} \"T\", 0, \"open\"", 19},
        {"{FileDialog} \"T\", SYSTEM_STDOUT0", 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        DialogCanceller canceller("T");
        EXPECT_EQ(Run(c.src), nullptr);
        EXPECT_EQ(k.errorCode, c.code);
        EXPECT_FALSE(canceller.Seen());
    }
}

TEST_F(IoTest, FileDialogThatCannotBeShownIsError29)
{
    // A template is asked for but none is given: the dialog fails (here or once it is closed).
    DialogCanceller canceller("KestrinIoTemplate");
    k.constants[CONST_IO_STATUS] = 5;
    EXPECT_EQ(Run("{FileDialog} \"KestrinIoTemplate\", 0, 1, \"Text|*.txt\", \"txt\", 64"), nullptr);
    EXPECT_EQ(k.errorCode, 29);
    EXPECT_EQ(k.constants[CONST_IO_STATUS], 5u);
}

TEST(IoDialogPaths, JoinsFolderAndNamesWholePathsOnly)
{
    struct Case {
        std::string files;   // as the dialog leaves them, NULs included
        size_t destSize;
        std::string expected;
    } cases[] = {
        {std::string("C:\\a\\one.txt\0\0", 14), 100, "C:\\a\\one.txt|"},
        {std::string("C:\\a\0one.txt\0two.txt\0\0", 22), 100, "C:\\a\\one.txt|C:\\a\\two.txt|"},
        {std::string("C:\\\0x\0y\0\0", 9), 100, "C:\\x|C:\\y|"},
        // Room for the first path and its "|" only: the second is left out whole.
        {std::string("C:\\a\0one.txt\0two.txt\0\0", 22), 15, "C:\\a\\one.txt|"},
        {std::string("C:\\a\0one.txt\0\0", 14), 14, "C:\\a\\one.txt|"},   // fits exactly
        {std::string("C:\\a\0one.txt\0\0", 14), 13, ""},
        {std::string("\0\0", 2), 100, ""},
    };
    for (const Case& c : cases) {
        char dest[128];
        memset(dest, 'Z', sizeof dest);
        size_t n = Kestrin::JoinDialogPaths(c.files.data(), c.files.size(), dest, c.destSize);
        EXPECT_EQ(std::string(dest), c.expected);
        EXPECT_EQ(n, c.expected.size());
        EXPECT_EQ(dest[c.destSize], 'Z');   // nothing written beyond the destination
    }
}

TEST_F(IoTest, PrintToFileNeedsAnOpenFileVariable)
{
    ASSERT_NE(Run("{Define} f:FILE"), nullptr);
    ASSERT_NE(Run("{Define} n:INT"), nullptr);
    ASSERT_NE(Run("{Define} g:FILE"), nullptr);
    ASSERT_NE(Run("g = 1234"), nullptr);   // a number that is no stream
    struct Case {
        const char* src;
        int code;
    } cases[] = {
        {"{Print} f, \"x\"", 52},
        {"{Print} g, \"x\"", 52},
        {"{Print} n, \"x\"", 14},
        {"{Print} nosuch, \"x\"", 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        std::string image, error;
        ASSERT_TRUE(SourceToImage(c.src, image, error));
        line = image.substr(0, image.find("\r\n"));
        k.errorCode = 0;
        ASSERT_EQ(k.ParseLine(k.mainStmt, &line[0]), 0);
        k.mainStmt->fileOutput = 1;
        EXPECT_EQ(k.Execute(k.mainStmt), nullptr);
        EXPECT_EQ(k.errorCode, c.code);
        EXPECT_EQ(k.mainStmt->fileOutput, 0);
    }
}

namespace {

// A console of the test's own with a screen buffer as standard output. The
// console is made once and stays attached, so that later console opens find one.
struct ConsoleTest : IoTest {
    static bool HaveConsole()
    {
        static const bool made = [] {
            FreeConsole();
            return AllocConsole() != 0;
        }();
        return made;
    }
    HANDLE savedOut = nullptr, savedIn = nullptr, screen = INVALID_HANDLE_VALUE, input = INVALID_HANDLE_VALUE;

    void SetUp() override
    {
        IoTest::SetUp();
        savedOut = GetStdHandle(STD_OUTPUT_HANDLE);
        savedIn = GetStdHandle(STD_INPUT_HANDLE);
        if (!HaveConsole()) GTEST_SKIP() << "no console can be made here";
        screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
        if (screen == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no console screen buffer";
        input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
        if (input == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no console input";
        SetStdHandle(STD_OUTPUT_HANDLE, screen);
        SetStdHandle(STD_INPUT_HANDLE, input);
        k.consoleFlag = 1;
    }
    void TearDown() override
    {
        SetStdHandle(STD_OUTPUT_HANDLE, savedOut);
        SetStdHandle(STD_INPUT_HANDLE, savedIn);
        if (screen != INVALID_HANDLE_VALUE) CloseHandle(screen);
        if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
        IoTest::TearDown();
    }
    CONSOLE_SCREEN_BUFFER_INFO Info()
    {
        CONSOLE_SCREEN_BUFFER_INFO i;
        EXPECT_TRUE(GetConsoleScreenBufferInfo(screen, &i));
        return i;
    }
    std::string TextAt(int x, int y, int n)
    {
        std::string s(n, '\0');
        DWORD got = 0;
        COORD at = {(SHORT)x, (SHORT)y};
        ReadConsoleOutputCharacterA(screen, &s[0], n, at, &got);
        s.resize(got);
        return s;
    }
    WORD AttributeAt(int x, int y)
    {
        WORD a = 0;
        DWORD got = 0;
        COORD at = {(SHORT)x, (SHORT)y};
        ReadConsoleOutputAttribute(screen, &a, 1, at, &got);
        return a;
    }
    void Key(bool down, WORD vk, char ch)
    {
        INPUT_RECORD r;
        memset(&r, 0, sizeof r);
        r.EventType = KEY_EVENT;
        r.Event.KeyEvent.bKeyDown = down;
        r.Event.KeyEvent.wRepeatCount = 1;
        r.Event.KeyEvent.wVirtualKeyCode = vk;
        r.Event.KeyEvent.uChar.AsciiChar = ch;
        DWORD n = 0;
        WriteConsoleInputA(input, &r, 1, &n);
    }
    DWORD PendingEvents()
    {
        DWORD n = 0;
        GetNumberOfConsoleInputEvents(input, &n);
        return n;
    }
};

}

TEST_F(ConsoleTest, LocateMovesTheCursorOneBased)
{
    struct Case {
        const char* src;
        int x, y;
    } cases[] = {
        {"{Locate} 3, 10", 9, 2},
        {"{Locate} 1, 1", 0, 0},
        {"{Locate} 2.9, 5", 4, 1},   // numbers count by their integer form
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        ASSERT_NE(Run(c.src), nullptr) << (int)k.errorCode;
        CONSOLE_SCREEN_BUFFER_INFO i = Info();
        EXPECT_EQ(i.dwCursorPosition.X, c.x);
        EXPECT_EQ(i.dwCursorPosition.Y, c.y);
    }
    EXPECT_EQ(Run("{Locate} 1"), nullptr);
    EXPECT_EQ(k.errorCode, 56);
    EXPECT_EQ(Run("{Locate} 1, \"a\""), nullptr);
    EXPECT_EQ(k.errorCode, 19);
}

TEST_F(ConsoleTest, ConsoleColorSetsForegroundAndBackground)
{
    struct Case {
        const char* src;
        WORD attr;
    } cases[] = {
        {"{ConsoleColor} 14, 1", 30},
        {"{ConsoleColor} , 1", 16},
        {"{ConsoleColor} 7", 7},
        {"{ConsoleColor} 2, ", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        ASSERT_NE(Run(c.src), nullptr) << (int)k.errorCode;
        EXPECT_EQ(Info().wAttributes, c.attr);
    }
    EXPECT_EQ(Run("{ConsoleColor} 1, 2, 3"), nullptr);
    EXPECT_EQ(k.errorCode, 56);
}

TEST_F(ConsoleTest, PrintWritesAtTheCursorAndClearEmptiesTheScreen)
{
    ASSERT_NE(Run("{Locate} 2, 5"), nullptr);
    ASSERT_NE(Run("{Print} \"hi\", 7"), nullptr);
    EXPECT_EQ(TextAt(4, 1, 4), "hi7 ");
    CONSOLE_SCREEN_BUFFER_INFO i = Info();
    EXPECT_EQ(i.dwCursorPosition.X, 0);   // after the line end
    EXPECT_EQ(i.dwCursorPosition.Y, 2);

    ASSERT_NE(Run("{ConsoleColor} 14, 1"), nullptr);
    ASSERT_NE(Run("{Print} \"xyz\","), nullptr);
    EXPECT_EQ(TextAt(0, 2, 3), "xyz");
    EXPECT_EQ(Info().dwCursorPosition.X, 3);   // no line end

    ASSERT_NE(Run("{ClearConsole}"), nullptr);
    EXPECT_EQ(TextAt(4, 1, 4), "    ");
    EXPECT_EQ(TextAt(0, 2, 3), "   ");
    i = Info();
    EXPECT_EQ(AttributeAt(4, 1), 30);
    EXPECT_EQ(AttributeAt(i.dwSize.X - 1, i.dwSize.Y - 1), 30);
    EXPECT_EQ(i.dwCursorPosition.X, 0);
    EXPECT_EQ(i.dwCursorPosition.Y, 0);
    EXPECT_EQ(Run("{ClearConsole} 1"), nullptr);
    EXPECT_EQ(k.errorCode, 56);
}

TEST_F(ConsoleTest, GetKeyTakesOnePendingKeyPress)
{
    FlushConsoleInputBuffer(input);
    ASSERT_NE(Run("{GetKey}"), nullptr);
    EXPECT_EQ(Result(), "");
    EXPECT_EQ(k.mainStmt->resultType, (int)T_STRING);

    // A key press: its character, and the rest of the input is dropped.
    Key(true, 'A', 'a');
    Key(false, 'A', 'a');
    Key(true, 'B', 'b');
    ASSERT_NE(Run("{GetKey}"), nullptr);
    EXPECT_EQ(Result(), "a");
    EXPECT_EQ(PendingEvents(), 0u);

    // Virtual-key mode reports the key code (F1 has no character).
    Key(true, VK_F1, 0);
    ASSERT_NE(Run("{GetKey} 1"), nullptr);
    EXPECT_EQ(Result(), std::string(1, (char)VK_F1));

    // A key release counts as no key and is consumed.
    Key(false, 'C', 'c');
    Key(true, 'D', 'd');
    ASSERT_NE(Run("{GetKey} 0"), nullptr);
    EXPECT_EQ(Result(), "");
    EXPECT_EQ(PendingEvents(), 1u);
    ASSERT_NE(Run("{GetKey}"), nullptr);
    EXPECT_EQ(Result(), "d");

    EXPECT_EQ(Run("{GetKey} 1, 2"), nullptr);
    EXPECT_EQ(k.errorCode, 1);
}

TEST_F(IoTest, HugePrecisionIsCutAtTheOutputBuffer)
{
    char dir[MAX_PATH], path[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof dir, dir), 0u);
    ASSERT_NE(GetTempFileNameA(dir, "kio", 0, path), 0u);
    HANDLE f = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, f);
    k.consoleFlag = 1;
    StmtRec* r1 = Run("{Define} d:DOUBLE");
    StmtRec* r2 = Run("d = 0.5");
    StmtRec* r3 = Run("{SetDecimalPrec} 1000000");
    StmtRec* r4 = Run("{Print} d");
    StmtRec* r5 = Run("{Print} \"next\"");
    SetStdHandle(STD_OUTPUT_HANDLE, saved);

    std::string text(70000, '\0');
    DWORD got = 0;
    SetFilePointer(f, 0, nullptr, FILE_BEGIN);
    ReadFile(f, &text[0], (DWORD)text.size(), &got, nullptr);
    text.resize(got);
    CloseHandle(f);
    DeleteFileA(path);

    ASSERT_TRUE(r1 && r2 && r3 && r4 && r5) << (int)k.errorCode;
    ASSERT_EQ(text.size(), (size_t)OUTPUT_BUFFER_SIZE - 2 + 1 + 5);
    EXPECT_EQ(text.substr(0, 8), " 0.50000");
    EXPECT_EQ(text.find_first_not_of('0', 4), (size_t)OUTPUT_BUFFER_SIZE - 2);
    EXPECT_EQ(text.substr(OUTPUT_BUFFER_SIZE - 2), "\nnext\n");
}
