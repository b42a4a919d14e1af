// Date and time texts, shell, sounds, keys, message boxes, the program directory
// and the automatic-declaration switch.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include "tests/unit/SysmemBoxes.h"
#include "tests/unit/SysmemProbe.h"
#include "tests/unit/SysmemProgram.h"

using namespace sysmemtest;

TEST(SysmemSystem, DateAndTimeTextsFollowTheClock)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        SYSTEMTIME before;
        GetLocalTime(&before);
        Program p(
            "d$ = {DateText}\n"
            "y$ = {DateText}(\"yyyy'-'MM'-'dd\")\n"
            "e$ = {DateText}(\"\")\n"
            "t$ = {TimeText}\n"
            "s = {SecondsToday}\n");
        SYSTEMTIME after;
        GetLocalTime(&after);
        time_t now = time(nullptr);
        ASSERT_EQ(p.code(), 0);
        if (before.wDay != after.wDay || before.wMinute != after.wMinute) continue;   // the clock moved on
        char want[32];
        snprintf(want, sizeof want, "%02d-%02d-%04d", after.wMonth, after.wDay, after.wYear);
        EXPECT_EQ(p.Text("d$"), want);
        snprintf(want, sizeof want, "%04d-%02d-%02d", after.wYear, after.wMonth, after.wDay);
        EXPECT_EQ(p.Text("y$"), want);
        std::string t = p.Text("t$");
        ASSERT_EQ(t.size(), 8u) << t;
        EXPECT_EQ(t[2], ':');
        EXPECT_EQ(t[5], ':');
        EXPECT_EQ(atoi(t.substr(0, 2).c_str()), after.wHour);
        EXPECT_EQ(atoi(t.substr(3, 2).c_str()), after.wMinute);
        double s = p.Number("s");
        EXPECT_GE(s, 0.0);
        EXPECT_LT(s, 86400.0);
        double expected = (double)(now % 86400);
        EXPECT_LE(expected - s, 2.0);
        EXPECT_GE(expected - s, -2.0);
        return;
    }
    FAIL() << "the clock kept moving across minutes";
}

TEST(SysmemSystem, AutoDeclareSwitchesAndRefusesOtherWords)
{
    {
        Program p("{AutoDeclare} off\nx = 5\n");
        EXPECT_EQ(p.code(), 10);   // an undefined name is no longer created
        EXPECT_EQ(p.line, 2u);
        EXPECT_EQ(p.k->autoDeclare, 0);
    }
    {
        Program p("{AutoDeclare} OFF\n{AutoDeclare} \"On\"\nx = 5\nw$ = \"off\"\n{AutoDeclare} w$\n");
        EXPECT_EQ(p.code(), 0);
        EXPECT_EQ(p.Int("x"), 5);
        EXPECT_EQ(p.k->autoDeclare, 0);
    }
    const ErrorCase cases[] = {
        {"other word", "{AutoDeclare} maybe\n", 15, 1},
        {"other text", "{AutoDeclare} \"ONE\"\n", 15, 1},
        {"number", "{AutoDeclare} 1\n", 15, 1},
        {"no argument", "{AutoDeclare}\n", 56, 1},
        {"two arguments", "{AutoDeclare} ON, OFF\n", 56, 1},
    };
    ExpectErrors(cases, sizeof cases / sizeof cases[0]);
}

TEST(SysmemSystem, ArgumentCountsAndTypes)
{
    const ErrorCase cases[] = {
        {"zero with an argument", "n = {AlwaysZero}(1)\n", 1, 1},
        {"date with two arguments", "a$ = {DateText}(\"d\", \"M\")\n", 56, 1},
        {"date picture of a number", "a$ = {DateText}(5)\n", 14, 1},
        {"time with an argument", "a$ = {TimeText}(1)\n", 56, 1},
        {"seconds with an argument", "a = {SecondsToday}(1)\n", 56, 1},
        {"shell without argument", "{ShellOpen}\n", 56, 1},
        {"shell with three arguments", "n = {ShellOpen}(\"a\", \"b\", \"c\")\n", 56, 1},
        {"shell of a number", "n = {ShellOpen}(5)\n", 14, 1},
        {"sound of a number", "{PlaySound} 5, 0\n", 14, 1},
        {"sound with flags of text", "{PlaySound} \"\", \"x\"\n", 19, 1},
        {"sound with one argument", "{PlaySound} \"\"\n", 56, 1},
        {"sound from an address that is no block", "{Define} m:MEMORY\nm = 4096\n{PlaySound} m, 0\n", 7, 3},
        {"key of a text", "n = {KeyState}(\"a\")\n", 19, 1},
        {"key without argument", "n = {KeyState}\n", 56, 1},
        {"box with two arguments", "n = {MessageBox}(0, \"a\")\n", 56, 1},
        {"box with five arguments", "n = {MessageBox}(0, \"a\", \"b\", 0, 0)\n", 56, 1},
        {"box owner of a text", "n = {MessageBox}(\"w\", \"a\", \"b\")\n", 14, 1},
        {"box style of a text", "n = {MessageBox}(0, \"a\", \"b\", \"c\")\n", 19, 1},
        {"directory with an argument", "a$ = {ProgramDirectory}(1)\n", 56, 1},
    };
    ExpectErrors(cases, sizeof cases / sizeof cases[0]);
}

TEST(SysmemSystem, SmallResultsWithoutAPerson)
{
    Program p(
        "z = {AlwaysZero}\n"
        "a = {ShellOpen}(\"Z:\\\\no\\\\such\\\\file.txt\")\n"
        "b = {ShellOpen}(\"no-such-document.kdoc\", \"/x\")\n"
        "k = {KeyState}(135)\n"
        "d$ = {ProgramDirectory}\n"
        "{PlaySound} \"\", 0\n"
        "{PlaySound} \"Z:\\\\no\\\\such.wav\", 0\n");
    ASSERT_EQ(p.code(), 0) << p.line;
    EXPECT_EQ(p.Int("z"), 0);
    EXPECT_EQ(p.Int("a"), 1);
    EXPECT_EQ(p.Int("b"), 1);
    EXPECT_EQ(p.Int("k"), 0);   // F24 is never down here
    std::string dir = p.Text("d$");
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '\\');
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    EXPECT_EQ(std::string(path).compare(0, dir.size(), dir), 0) << path;
}

TEST(SysmemSystem, KeyHeldDownReadsNegative)
{
    INPUT in;
    memset(&in, 0, sizeof in);
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = VK_SCROLL;
    ASSERT_EQ(SendInput(1, &in, sizeof in), 1u);
    Sleep(100);
    Program p("k = {KeyState}(145)\n");
    in.ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(1, &in, sizeof in);
    ASSERT_EQ(p.code(), 0);
    EXPECT_LT(p.Int("k"), 0);
}

TEST(SysmemSystem, SoundsFromBlocksAreCheckedAndStoppedBeforeTheBlockGoes)
{
    // A block that is no complete RIFF sound is not handed to the platform; a
    // header that claims more bytes than the block has is refused the same way.
    Program p(
        "{Define} m:MEMORY\n"
        "{Define} i:INT\n"
        "n = {AllocMem}(m, 1, 44)\n"
        "{PlaySound} m, 1\n"
        "i = 0x46464952\n"
        "{WriteMem} m, 1, i\n"
        "i = 1000\n"
        "{WriteMem} m, 2, i\n"
        "i = 0x45564157\n"
        "{WriteMem} m, 3, i\n"
        "{PlaySound} m, 1\n");
    ASSERT_EQ(p.code(), 0) << p.line;
    EXPECT_EQ(SysmemProbe::SoundBlock(*p.k), 0u);
    // A well-formed (silent) sound: the block is remembered and released safely.
    Program q(
        "{Define} m:MEMORY\n"
        "{Define} i:INT\n"
        "n = {AllocMem}(m, 1, 48)\n"
        "i = 0x46464952\n{WriteMem} m, 1, i\n"
        "i = 40\n{WriteMem} m, 2, i\n"
        "i = 0x45564157\n{WriteMem} m, 3, i\n"
        "i = 0x20746D66\n{WriteMem} m, 4, i\n"
        "i = 16\n{WriteMem} m, 5, i\n"
        "i = 0x00010001\n{WriteMem} m, 6, i\n"
        "i = 8000\n{WriteMem} m, 7, i\n"
        "i = 8000\n{WriteMem} m, 8, i\n"
        "i = 0x00080001\n{WriteMem} m, 9, i\n"
        "i = 0x61746164\n{WriteMem} m, 10, i\n"
        "i = 4\n{WriteMem} m, 11, i\n"
        "i = 0x80808080\n{WriteMem} m, 12, i\n"
        "{PlaySound} m, 1\n"
        "{FreeMem} m\n"
        "{PlaySound} m, 0\n");
    ASSERT_EQ(q.code(), 0) << q.line;
    EXPECT_EQ(SysmemProbe::SoundBlock(*q.k), 0u);
    EXPECT_EQ(SysmemProbe::BlockCount(*q.k), 0u);
}

TEST(SysmemSystem, MessageBoxShowsTextAndCaptionAndReturnsTheButton)
{
    {
        BoxAnswer answer(IDOK);
        Program p("r = {MessageBox}(0, \"first line\", \"Kestrin box\")\n");
        ASSERT_TRUE(answer.answered());
        EXPECT_EQ(p.code(), 0);
        EXPECT_EQ(p.Int("r"), IDOK);
        EXPECT_EQ(answer.caption(), "Kestrin box");
        EXPECT_EQ(answer.text(), "first line");
        EXPECT_EQ(answer.owner(), nullptr);
    }
    {
        // Style 4 is Yes and No; a window number that is no open window owns nothing.
        BoxAnswer answer(IDNO);
        Program p("r = {MessageBox}(12345, \"question\", \"ask\", 4)\n");
        ASSERT_TRUE(answer.answered());
        EXPECT_EQ(p.code(), 0);
        EXPECT_EQ(p.Int("r"), IDNO);
        EXPECT_EQ(answer.owner(), nullptr);
    }
}
