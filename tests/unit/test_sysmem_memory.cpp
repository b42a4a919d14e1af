// Memory blocks, records in blocks, resources, deleting variables and pointers.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "tests/unit/SysmemProbe.h"
#include "tests/unit/SysmemProgram.h"

using namespace sysmemtest;

namespace {

// Walks the lookup chain both ways: every next has the matching prev.
bool ChainIsSound(Kestrin& k)
{
    int n = 0;
    for (VarRec* r = &k.stdoutRec; r && r->next; r = r->next) {
        if (r->next->prev != r) return false;
        if (++n > 100000) return false;
    }
    return true;
}

}

TEST(SysmemMemory, AllocResizesKeepingContentsAndZeroFillsTheGrowth)
{
    Program p(
        "{Define} m:MEMORY\n"
        "{Define} i, a, b, c, d:INT\n"
        "a = {AllocMem}(m, 10, 4)\n"
        "i = 77\n"
        "{WriteMem} m, 10, i\n"
        "b = {AllocMem}(m, 20, 4)\n"
        "{ReadMem} m, 10, i\n"
        "c = i\n"
        "{ReadMem} m, 20, i\n"
        "d = {SizeOf}(m)\n");
    ASSERT_EQ(p.code(), 0);
    EXPECT_EQ(p.Int("a"), 40);
    EXPECT_EQ(p.Int("b"), 80);
    EXPECT_EQ(p.Int("c"), 77);
    EXPECT_EQ(p.Int("i"), 0);
    EXPECT_EQ(p.Int("d"), 80);
}

TEST(SysmemMemory, RecordWithOffsetReadsTheBytesAfterTheRecordStart)
{
    Program p(
        "{Define} m:MEMORY\n"
        "{Define} i:INT\n"
        "n = {AllocMem}(m, 3, 4)\n"
        "i = 0x04030201\n"
        "{WriteMem} m, 1, i\n"
        "i = 0x08070605\n"
        "{WriteMem} m, 2, i\n"
        "i = 0x0C0B0A09\n"
        "{WriteMem} m, 3, i\n"
        "{ReadMem} m, 2, i, 1\n");
    ASSERT_EQ(p.code(), 0);
    EXPECT_EQ((uint32_t)p.Int("i"), 0x09080706u);   // bytes 5..8 of the block
}

TEST(SysmemMemory, FreedOrEmptyBlockMakesTransfersDoNothing)
{
    Program p(
        "{Define} m:MEMORY\n"
        "{Define} i:INT\n"
        "n = {AllocMem}(m, 1, 4)\n"
        "{FreeMem} m\n"
        "{FreeMem} m\n"
        "{FreeMem} m, 1\n"
        "i = 5\n"
        "{ReadMem} m, 1, i\n"
        "{WriteMem} m, 1, i\n"
        "s = {SizeOf}(m)\n");
    ASSERT_EQ(p.code(), 0);
    EXPECT_EQ(p.Int("i"), 5);
    EXPECT_EQ(p.Int("s"), 0);
    VarRec* m = p.Find("m");
    ASSERT_TRUE(m && m->data);
    uint32_t slot;
    memcpy(&slot, m->data, 4);
    EXPECT_EQ(slot, 0u);
}

TEST(SysmemMemory, BlockMadeThroughAParameterIsTheCallersWithItsSize)
{
    Program p(
        "{Declare} make(q:MEMORY, n:INT)\n"
        "{Define} m:MEMORY\n"
        "{Define} i:INT\n"
        "a = {AllocMem}(m, 100, 1)\n"
        "make m, 8\n"
        "s = {SizeOf}(m)\n"
        "i = 5\n"
        "{WriteMem} m, 2, i\n"
        "{WriteMem} m, 3, i\n"
        "{End}\n"
        "sub make\n"
        "r = {AllocMem}(q, n, 1)\n"
        "{Return}\n");
    EXPECT_EQ(p.code(), 7);   // record 3 of 4 bytes is beyond the 8 bytes now held
    EXPECT_EQ(p.line, 9u);
    EXPECT_EQ(p.Int("s"), 8);
    EXPECT_EQ(SysmemProbe::BlockCount(*p.k), 1u);
}

TEST(SysmemMemory, StructureRecordsRoundTripAndStringsStayTerminated)
{
    Program p(
        "{Type} pt\n"
        "{Define} x:INT\n"
        "{Define} s:STRING\n"
        "{EndType}\n"
        "{Define} a, b:pt\n"
        "{Define} m:MEMORY\n"
        "{Define} c:CHAR\n"
        "{Define} t:STRING\n"
        "n = {AllocMem}(m, 2, 259)\n"
        "a.x = 42\n"
        "a.s = \"hello\"\n"
        "{WriteMem} m, 2, a\n"
        "{ReadMem} m, 2, b\n"
        "bx = b.x\n"
        "bs$ = b.s\n"
        // Fill a whole record of 255 bytes without a terminator, then read it as a STRING.
        "t = {Repeat}(254, \"q\")\n"
        "{WriteMem} m, 1, t\n"
        "c = \"z\"\n"
        "{WriteMem} m, 1, c, 254\n"
        "{ReadMem} m, 1, t\n");
    ASSERT_EQ(p.code(), 0) << p.line;
    EXPECT_EQ(p.Int("bx"), 42);
    EXPECT_EQ(p.Text("bs$"), "hello");
    VarRec* t = p.Find("t");
    ASSERT_TRUE(t && t->base);
    EXPECT_EQ(strnlen(t->base, 255), 254u);
}

TEST(SysmemMemory, StructureReadThroughACopiedAddressIsBoundedByTheBlock)
{
    // The copy has no recorded size; the structure read is still held to the allocation.
    Program p(
        "{Type} pt\n"
        "{Define} x, y:INT\n"
        "{EndType}\n"
        "{Define} a:pt\n"
        "{Define} m, m2:MEMORY\n"
        "n = {AllocMem}(m, 1, 12)\n"
        "m2 = m\n"
        "{ReadMem} m2, 1, a, 4\n"
        "{ReadMem} m2, 1, a, 5\n");
    EXPECT_EQ(p.code(), 7);
    EXPECT_EQ(p.line, 9u);
}

TEST(SysmemMemory, FailuresStopWithTheirCodeAndLine)
{
    const char* decl = "{Define} m:MEMORY\n{Define} i:INT\nn = {AllocMem}(m, 10, 4)\n";
    const ErrorCase cases[] = {
        {"record 11 of 40 bytes", "{WriteMem} m, 10, i\n{WriteMem} m, 11, i\n", 7, 5},
        {"record 0", "{ReadMem} m, 0, i\n", 7, 4},
        {"offset leaves the block", "{WriteMem} m, 10, i, 1\n", 7, 4},
        {"offset before the block", "{ReadMem} m, 1, i, -1\n", 7, 4},
        {"huge offset", "{ReadMem} m, 1, i, 2147483647\n", 7, 4},
        {"count times size overflows", "n = {AllocMem}(m, 65536, 65536)\n", 7, 4},
        {"negative size", "n = {AllocMem}(m, 4, -1)\n", 7, 4},
        {"address that is no block", "m = 4096\n{ReadMem} m, 1, i\n", 7, 5},
        {"block freed through a copy", "{Define} m2:MEMORY\nm2 = m\n{FreeMem} m\n{WriteMem} m2, 1, i\n", 7, 7},
        {"raw bytes into a FILE", "{Define} f:FILE\n{ReadMem} m, 1, f\n", 14, 5},
        {"raw bytes into a MEMORY", "{Define} q:MEMORY\n{ReadMem} m, 1, q\n", 14, 5},
        {"into a constant", "{Const} k = 3\n{ReadMem} m, 1, k\n", 58, 5},
        {"undefined target", "{ReadMem} m, 1, nothing\n", 10, 4},
        {"not a MEMORY", "n = {AllocMem}(i, 1, 1)\n", 14, 4},
        {"alloc with two arguments", "n = {AllocMem}(m, 1)\n", 56, 4},
        {"read with two arguments", "{ReadMem} m, 1\n", 56, 4},
        {"write with five arguments", "{WriteMem} m, 1, i, 0, 0\n", 56, 4},
        {"resource with two arguments", "n = {LoadResource}(1, 2)\n", 56, 4},
        {"resource name of a CHAR", "{Define} c:CHAR\nn = {LoadResource}(c, 10, i)\n", 14, 5},
        {"resource type of a MEMORY", "n = {LoadResource}(1, m, i)\n", 14, 4},
        {"pointer type of an INT", "n = {PointerType}(i)\n", 14, 4},
        {"is-array without argument", "n = {IsArray}\n", 56, 4},
        {"delete without argument", "{Delete}\n", 56, 4},
        {"delete of an INT", "{Delete} i\n", 14, 4},
    };
    for (const ErrorCase& c : cases) {
        Program p(std::string(decl) + c.source);
        EXPECT_EQ(p.code(), c.code) << c.what;
        EXPECT_EQ(p.line, c.line) << c.what;
    }
}

TEST(SysmemMemory, MissingResourceYieldsZeroWithoutError)
{
    Program p(
        "{Define} s:STRING\n"
        "s = \"kept\"\n"
        "a = {LoadResource}(\"NO_SUCH_RESOURCE\", 10, s)\n"
        "b = {LoadResource}(4711, \"NOTYPE\", s)\n"
        "c = {LoadResource}(1.0, 24.0, 5)\n");
    ASSERT_EQ(p.code(), 0);
    EXPECT_EQ(p.Int("a"), 0);
    EXPECT_EQ(p.Int("b"), 0);
    EXPECT_EQ(p.Int("c"), 0);
    EXPECT_EQ(p.Text("s"), "kept");
}

TEST(SysmemMemory, DeletingVariablesKeepsEveryChainLinked)
{
    // Records in the middle and at the end of the main chain, the local that heads
    // a subroutine's chain, a main-program variable deleted from inside a call, a
    // local behind a parameter, and the label of the running subroutine itself.
    Program p(
        "{Declare} withparam(v:INT)\n"
        "{Define} g1, g2, g3, g4:INT\n"
        "g3 = 3\n"
        "{DeleteVariable} g4\n"
        "inner\n"
        "{DeleteVariable} g1\n"
        "{Define} g4:INT\n"
        "g4 = 4\n"
        "{Define} r:INT\n"
        "withparam 9\n"
        "{CallSub} gone\n"
        "{End}\n"
        "sub inner\n"
        "loc1 = 1\n"
        "loc2 = 2\n"
        "{DeleteVariable} loc1\n"
        "loc3 = loc2 + 1\n"
        "{DeleteVariable} g2\n"
        "{Return}\n"
        "sub withparam\n"
        "w1 = v\n"
        "{DeleteVariable} w1\n"
        "w2 = v + 1\n"
        "r = w2\n"
        "{Return}\n"
        "sub gone\n"
        "{DeleteVariable} gone\n"
        "{Return}\n");
    ASSERT_EQ(p.code(), 0) << p.line;
    EXPECT_TRUE(ChainIsSound(*p.k));
    EXPECT_EQ(p.Find("g1"), nullptr);
    EXPECT_EQ(p.Find("g2"), nullptr);
    EXPECT_EQ(p.Int("g3"), 3);
    EXPECT_EQ(p.Int("g4"), 4);
    EXPECT_EQ(p.Int("r"), 10);
    EXPECT_EQ(p.Find("loc2"), nullptr);   // released with the call
    EXPECT_EQ(p.Find("gone"), nullptr);
    // The last record of the main chain can go too, and a new one follows the one before.
    char name[] = "tail";
    VarRec* tail = p.k->CreateVariable(name, T_INT, 1, nullptr);
    ASSERT_EQ(p.k->lastGlobal, tail);
    VarRec* before = tail->prev;
    ASSERT_EQ(SysmemProbe::Delete(*p.k, tail), 1);
    EXPECT_EQ(p.k->lastGlobal, before);
    EXPECT_EQ(before->next, nullptr);
    EXPECT_TRUE(ChainIsSound(*p.k));
}

TEST(SysmemMemory, VariablesThatMustStayAreRefused)
{
    const ErrorCase cases[] = {
        {"DECIMAL_PREC", "{DeleteVariable} DECIMAL_PREC\n", 21, 1},
        {"standard output", "{DeleteVariable} SYSTEM_STDOUT0\n", 21, 1},
        {"result string", "{DeleteVariable} SYSTEM_STRING0\n", 21, 1},
        {"result pointer", "{DeleteVariable} SYSTEM_POINTER0\n", 21, 1},
        {"parameter of the running call",
         "{Declare} s(v:INT)\ns 1\n{End}\nsub s\n{DeleteVariable} v\n{Return}\n", 21, 5},
        {"string a running call shares",
         "{Declare} s(p:STRING)\nt = \"x\"\ns t\n{End}\nsub s\n{DeleteVariable} t\n{Return}\n", 21, 6},
        {"MEMORY a running call shares",
         "{Define} m:MEMORY\n{Declare} u(q:MEMORY)\nu m\n{End}\nsub u\n{DeleteVariable} m\n{Return}\n", 21, 6},
        {"deleted subroutine", "{Declare} s(v:INT)\n{DeleteVariable} s\n{CallSub} s, 1\n{End}\nsub s\n{Return}\n", 12, 3},
        {"undefined", "{DeleteVariable} nothing\n", 10, 1},
        {"used after deletion", "a = 1\n{DeleteVariable} a\nb = a\n", 10, 3},
        {"pointer to the result string", "{Define} p:POINTER\np = SYSTEM_STRING0\n{Delete} p\n", 21, 3},
    };
    for (const ErrorCase& c : cases) {
        Program p(c.source);
        EXPECT_EQ(p.code(), c.code) << c.what;
        EXPECT_EQ(p.line, c.line) << c.what;
        EXPECT_TRUE(ChainIsSound(*p.k)) << c.what;
    }
}

TEST(SysmemMemory, DeletionStopsAtTheFirstFailure)
{
    Program p("a = 1\nb = 2\n{DeleteVariable} a, nothing, b\n");
    EXPECT_EQ(p.code(), 10);
    EXPECT_EQ(p.Find("a"), nullptr);
    EXPECT_EQ(p.Int("b"), 2);
}

TEST(SysmemMemory, OpenWindowVariableIsRefused)
{
    Program p("{Define} w[2]:WINDOW\n");
    ASSERT_EQ(p.code(), 0);
    VarRec* w = p.Find("w");
    ASSERT_TRUE(w && w->base);
    // A stand-in object: only its address in the window list counts as open.
    static char standIn[16];
    uint32_t slot;
    ASSERT_TRUE(PtrToSlot(standIn, &slot));
    memcpy(w->base + 4, &slot, 4);
    p.k->windowList.push_back((CKestrinWnd*)standIn);
    EXPECT_EQ(SysmemProbe::Delete(*p.k, w), 0);
    EXPECT_EQ(p.k->errorCode, 22);
    p.k->windowList.clear();
    memset(w->base, 0, 8);
    p.k->errorCode = 0;
    EXPECT_EQ(SysmemProbe::Delete(*p.k, w), 1);
    EXPECT_EQ(p.Find("w"), nullptr);
}

TEST(SysmemMemory, PointersLoseTargetsThatAreDeleted)
{
    Program p(
        "{Type} pt\n"
        "{Define} x:INT\n"
        "{EndType}\n"
        "{Define} p, q, r:POINTER\n"
        "{Define} s:pt\n"
        "{Define} v:INT\n"
        "p = {New}(DOUBLE, 1)\n"
        "t1 = {PointerType}(p)\n"
        "q = p\n"
        "{Delete} p\n"
        "t2 = {PointerType}(p)\n"
        "t3 = {PointerType}(q)\n"
        "{Delete} q\n"
        "r = s.x\n"
        "t4 = {PointerType}(r)\n"
        "{DeleteVariable} s\n"
        "t5 = {PointerType}(r)\n"
        "p = v\n"
        "{Delete} p\n"
        "t6 = {PointerType}(p)\n");
    ASSERT_EQ(p.code(), 0) << p.line;
    EXPECT_EQ(p.Int("t1"), T_DOUBLE);
    EXPECT_EQ(p.Int("t2"), -1);
    EXPECT_EQ(p.Int("t3"), -1);
    EXPECT_EQ(p.Int("t4"), T_INT);
    EXPECT_EQ(p.Int("t5"), -1);
    EXPECT_EQ(p.Int("t6"), -1);
    EXPECT_EQ(p.Find("v"), nullptr);
    EXPECT_EQ(p.Find("s"), nullptr);
    for (const char* n : {"p", "q", "r"}) {
        VarRec* ptr = p.Find(n);
        ASSERT_TRUE(ptr);
        EXPECT_EQ(ptr->target, nullptr) << n;
        EXPECT_EQ(p.Int(n), 0) << n;
    }
    EXPECT_EQ(p.k->sysPointer->target, nullptr);
    EXPECT_TRUE(ChainIsSound(*p.k));
}

TEST(SysmemMemory, IsArrayFollowsPointersAndIgnoresValues)
{
    Program p(
        "{Define} a[3]:INT\n"
        "{Define} i:INT\n"
        "{Define} s:STRING\n"
        "{Define} p, e:POINTER\n"
        "p = a\n"
        "r1 = {IsArray}(a)\n"
        "r2 = {IsArray}(i)\n"
        "r3 = {IsArray}(s)\n"
        "r4 = {IsArray}(p)\n"
        "r5 = {IsArray}(e)\n"
        "r6 = {IsArray}(5)\n"
        "r7 = {IsArray}(\"text\")\n");
    ASSERT_EQ(p.code(), 0) << p.line;
    EXPECT_EQ(p.Int("r1"), 1);
    EXPECT_EQ(p.Int("r2"), 0);
    EXPECT_EQ(p.Int("r3"), 1);   // strings are indexed
    EXPECT_EQ(p.Int("r4"), 1);
    EXPECT_EQ(p.Int("r5"), 0);
    EXPECT_EQ(p.Int("r6"), 0);
    EXPECT_EQ(p.Int("r7"), 0);
}
