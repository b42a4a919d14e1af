// Raw printer output on a machine without printers: defined results, handles
// that are no print job, the text of a write, and the print dialog.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>
#include <cstring>
#include <string>
#include "tests/unit/SysmemBoxes.h"
#include "tests/unit/SysmemProbe.h"
#include "tests/unit/SysmemProgram.h"

using namespace sysmemtest;

namespace {

bool NoPrinterInstalled()
{
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, nullptr, 0, &needed, &count);
    return needed == 0;
}

}

TEST(SysmemPrinter, WithoutPrintersEveryCommandEndsQuietly)
{
    if (!NoPrinterInstalled()) GTEST_SKIP() << "a printer is installed";
    Program p(
        "{Define} h, e:INT\n"
        "d$ = {DefaultPrinter}\n"
        "h = {OpenPrinter}(\"No Such Printer\", \"doc\", \"RAW\")\n"
        "e = {OpenPrinter}(\"\", \"doc\", \"RAW\")\n"
        "{PrinterWrite} h, \"AB\", 5\n"
        "{NewPrinterPage} h\n"
        "{ClosePrinter} h\n"
        // Numbers that are no open print job are left alone.
        "{PrinterWrite} 12345, \"x\"\n"
        "{PrinterWrite} 2147483647\n"
        "{NewPrinterPage} 4096\n"
        "{ClosePrinter} 305419896\n");
    ASSERT_EQ(p.code(), 0) << p.line;
    EXPECT_EQ(p.Text("d$"), "");
    EXPECT_EQ(p.Int("h"), 0);
    EXPECT_EQ(p.Int("e"), 0);
    EXPECT_EQ(SysmemProbe::PrinterCount(*p.k), 0u);
}

TEST(SysmemPrinter, ArgumentCountsAndTypes)
{
    const ErrorCase cases[] = {
        {"default with an argument", "a$ = {DefaultPrinter}(1)\n", 56, 1},
        {"open with two arguments", "h = {OpenPrinter}(\"a\", \"b\")\n", 56, 1},
        {"open with a number", "h = {OpenPrinter}(\"a\", \"b\", 3)\n", 14, 1},
        {"close without argument", "{ClosePrinter}\n", 56, 1},
        {"close with a text", "{ClosePrinter} \"h\"\n", 20, 1},
        {"close with a FLOAT", "{ClosePrinter} 1.5\n", 20, 1},
        {"page with two arguments", "{NewPrinterPage} 0, 0\n", 56, 1},
        {"write without handle", "{PrinterWrite}\n", 56, 1},
        {"write with an undefined value", "{PrinterWrite} 0, \"a\", nothing\n", 10, 1},
        {"dialog page of a FLOAT", "{Define} a, b, c:INT\nf = 1.5\nr$ = {PrintDialog}(0, f, a, b, c)\n", 14, 3},
        {"dialog copies of a literal", "{Define} a, b, c:INT\nr$ = {PrintDialog}(0, a, b, 1, c)\n", 14, 2},
        {"dialog collate undefined", "{Define} a, b, c:INT\nr$ = {PrintDialog}(0, a, b, c, nothing)\n", 10, 2},
    };
    ExpectErrors(cases, sizeof cases / sizeof cases[0]);
}

TEST(SysmemPrinter, DialogWithAnotherCountDoesNothing)
{
    Program p("{Define} a, b:INT\na = 3\n{PrintDialog} 0, a, b\n{PrintDialog}\n");
    EXPECT_EQ(p.code(), 0);
    EXPECT_EQ(p.Int("a"), 3);
}

TEST(SysmemPrinter, DialogWithoutPrintersIsCancelledAfterThePlatformWarning)
{
    if (!NoPrinterInstalled()) GTEST_SKIP() << "a printer is installed";
    BoxAnswer answer(IDOK);
    Program p(
        "{Define} a, b, c, d:INT\n"
        "a = 1\nb = 9\nc = 2\nd = 5\n"
        "r$ = \"before\"\n"
        "r$ = {PrintDialog}(\"no window\", a, b, c, d)\n");
    ASSERT_TRUE(answer.answered());
    EXPECT_EQ(p.code(), 0) << p.line;
    EXPECT_EQ(p.Text("r$"), "");
    EXPECT_EQ(p.Int("a"), 1);
    EXPECT_EQ(p.Int("b"), 9);
    EXPECT_EQ(p.Int("c"), 2);
    EXPECT_EQ(p.Int("d"), 5);
}

TEST(SysmemPrinter, WriteTextFormatsEachValue)
{
    Program p(
        "{Define} c:CHAR\n{Define} w:WORD\n{Define} u:UINT\n{Define} l:INT64\n{Define} m:MEMORY\n"
        "{Define} f:FLOAT\n{Define} d:DOUBLE\n{Define} x:FILE\n"
        "c = \"Q\"\nw = 7\nu = 4000000000\nl = -9000000000\nf = 2.5\nd = 3.0\n");
    ASSERT_EQ(p.code(), 0) << p.line;
    struct Case {
        const char* args;   // after the handle
        const char* text;
    } cases[] = {
        {"\"AB\", 5", "AB5 \n"},
        {"", "\n"},
        {"c, w, u", "Q74000000000 \n"},
        {"l", "-9000000000 \n"},
        {"f, d", " 2.503 \n"},
        {"1.25, 2 * 3", " 1.256 \n"},
        {"x, DECIMAL_PREC", "%\n"},
        {"m", "00000000 \n"},
        {"\"a\", , \"b\"", "ab\n"},
    };
    StmtRec* s = p.k->NewStatementRecord(MAX_ARGS);
    ASSERT_TRUE(s);
    for (const Case& c : cases) {
        std::string src = std::string("{PrinterWrite} 0") + (c.args[0] ? ", " : "") + c.args;
        std::string img, err;
        ASSERT_TRUE(SourceToImage(src, img, err)) << err;
        std::string line = img.substr(0, img.find('\r'));
        p.k->errorCode = 0;
        ASSERT_EQ(p.k->ParseLine(s, &line[0]), 0) << c.args;
        std::string text;
        ASSERT_EQ(SysmemProbe::PrinterText(*p.k, s, &text), 1) << c.args;
        EXPECT_EQ(text, c.text) << c.args;
    }
    // The text of one write is bounded by its buffer, line feed included.
    std::string src = "{PrinterWrite} 0";
    for (int i = 0; i < 24; ++i) src += ", SYSTEM_STRING0";
    std::string img, err;
    ASSERT_TRUE(SourceToImage(src, img, err));
    std::string line = img.substr(0, img.find('\r'));
    memset(p.k->sysString->base, 'z', 65535);
    p.k->sysString->base[65535] = 0;
    ASSERT_EQ(p.k->ParseLine(s, &line[0]), 0);
    std::string text;
    ASSERT_EQ(SysmemProbe::PrinterText(*p.k, s, &text), 1);
    EXPECT_EQ(text.size(), 32767u);
    EXPECT_EQ(text.back(), '\n');
    p.k->FreeStatementRecord(s);
}
