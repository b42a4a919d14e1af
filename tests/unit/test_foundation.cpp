// Image scrambling, the line table, the line parser, the stack and the command table.
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include "interp/Kestrin.h"
#include "interp/CommandNames.h"
#include "startup/ImageScramble.h"
#include "startup/ProgramImage.h"
#include "tools/kbind/SourceNotation.h"

TEST(Scramble, RoundTripsEveryByteAtEveryKeyPosition)
{
    std::string plain;
    for (int pos = 0; pos < 32; ++pos)
        for (int b = 0; b < 256; ++b) plain.push_back((char)b);
    std::string data = plain;
    ImageScramble::Scramble((unsigned char*)&data[0], data.size());
    EXPECT_NE(data, plain);
    ImageScramble::Descramble((unsigned char*)&data[0], data.size());
    EXPECT_EQ(data, plain);
}

TEST(Scramble, SwapsBitsBeforeInvertingAndRepeatsKeyEvery16Bytes)
{
    unsigned char key[ImageScramble::KeyLength];
    ImageScramble::BuildKey(key);
    unsigned char data[17];
    memset(data, 0x08, sizeof data);
    ImageScramble::Descramble(data, sizeof data);
    EXPECT_EQ(data[0], (unsigned char)(0xEF ^ key[0]));
    EXPECT_EQ(data[16], data[0]);
    EXPECT_EQ(data[1], (unsigned char)(0xEF ^ key[1]));
}

namespace {

struct LineTableTest : ::testing::Test {
    Kestrin k;
    char* image = nullptr;
    void Load(const std::string& text)
    {
        image = ProgramImage::CopyPlain(text.data(), text.size());
        k.programImage = image;
    }
    ~LineTableTest() override
    {
        k.Cleanup();
        free(image);
    }
};

}

TEST_F(LineTableTest, SkipsCommentsAndBlankLinesAndKeepsSourceLineNumbers)
{
    Load(std::string("a=1\r\n; note\r\n\r\n  b=2\r\n", 22) + '\0');
    ASSERT_EQ(k.CountLines(), 1);
    ASSERT_EQ(k.lineCount, 2u);
    EXPECT_STREQ(k.lineTable[0], "a=1");
    EXPECT_STREQ(k.lineTable[1], "b=2");
    EXPECT_EQ(k.lineNumbers[0], 0);
    EXPECT_EQ(k.lineNumbers[1], 3);
}

TEST_F(LineTableTest, BareLineFeedsShareASourceLineAndBothPassesAgree)
{
    // One-character lines and blank lines ended by a bare LF are the cases
    // where a naive first pass and second pass disagree.
    Load("x\ny\n \n;c\n\t\nz");
    ASSERT_EQ(k.CountLines(), 1);
    ASSERT_EQ(k.lineCount, 3u);
    EXPECT_STREQ(k.lineTable[0], "x");
    EXPECT_STREQ(k.lineTable[1], "y");
    EXPECT_STREQ(k.lineTable[2], "z");
    EXPECT_EQ(k.lineNumbers[0], 0);
    EXPECT_EQ(k.lineNumbers[1], 0);
    EXPECT_EQ(k.lineNumbers[2], 1);   // only the comment advanced the number
}

TEST_F(LineTableTest, ProgramOfOnlyCommentsHasNoLines)
{
    Load("; one\r\n' two\r\n   \r\n");
    EXPECT_EQ(k.CountLines(), 0);
    EXPECT_EQ(k.errorCode, 0);
    EXPECT_EQ(k.lineTable, nullptr);
}

TEST_F(LineTableTest, ImageWithoutTerminatorIsBoundedByTheLoaderNul)
{
    const char bytes[] = {'a', '=', '1', '\r', '\n', 'b'};
    Load(std::string(bytes, sizeof bytes));
    ASSERT_EQ(k.CountLines(), 1);
    ASSERT_EQ(k.lineCount, 2u);
    EXPECT_STREQ(k.lineTable[1], "b");
}

namespace {

struct ParseCase {
    const char* line;          // source notation
    int command;
    std::vector<std::string> args;
    std::vector<int> kinds;    // empty: not checked
};

struct ParseTest : ::testing::Test {
    Kestrin k;
    StmtRec* s = nullptr;
    std::string line;
    ParseTest() { s = k.NewStatementRecord(MAX_ARGS); }
    ~ParseTest() override { k.FreeStatementRecord(s); }
    int Parse(const char* source)
    {
        std::string image, error;
        EXPECT_TRUE(SourceToImage(source, image, error)) << error;
        line = image.substr(0, image.find("\r\n"));
        k.errorCode = 0;
        return k.ParseLine(s, &line[0]);
    }
};

}

TEST_F(ParseTest, SplitsAndClassifiesArguments)
{
    const ParseCase cases[] = {
        {"{Print}", 0, {}, {}},
        {"{Print}   ", 0, {}, {}},
        {"{Print} x,\"a,b\",f(1,2),y[1,2]", 0, {"x", "\"a,b\"", "f(1,2)", "y[1,2]"}, {2, 1, 3, 2}},
        {"{Print} \"abc\"+s, \"a+b\"", 0, {"\"abc\"+s", " \"a+b\""}, {3, 1}},
        {"{Print} #p, a, 5", 0, {"#p", " a", " 5"}, {2, 2, 0}},
        {"{Print} a,,", 0, {"a", "", ""}, {2, 4, 4}},
        {"{Print} (1)", 0, {"(1)"}, {3}},
        {"{Print} (a, b)", 0, {"a", " b "}, {2, 2}},
        {"{Print} (a)+1, b", 0, {"(a)+1", " b"}, {3, 2}},
        {"{Print} {#12}, 0x1F, .5", 0, {"\xFE\xE0\xEC", " 0x1F", " .5"}, {3, 0, 0}},
        {"{If} (a, b)", 6, {"(a, b)"}, {3}},
        {"{Print} \"(\", s[\",\"]", 0, {"\"(\"", " s[\",\"]"}, {1, 2}},
        {"a = 1, 2", 20, {"a", "1, 2"}, {2, 0}},
        {"  total\t= \"x\" + y  ", 20, {"total", "\"x\" + y"}, {2, 3}},
        {"c = \"a+b\"", 20, {"c", "\"a+b\""}, {2, 1}},
        {"v = #p", 20, {"v", "#p"}, {2, 4}},
        {"v = -5", 20, {"v", "-5"}, {2, 3}},
        {"v = 42", 20, {"v", "42"}, {2, 0}},
        {"v = b[i+1]", 20, {"v", "b[i+1]"}, {2, 2}},
        {"v = b[i+1]*2", 20, {"v", "b[i+1]*2"}, {2, 3}},
        {"v = f(\"a-b\")", 20, {"v", "f(\"a-b\")"}, {2, 3}},
        {"v = s.name", 20, {"v", "s.name"}, {2, 2}},
        {"v = {#3}", 20, {"v", "\xFE\xE0\xE3"}, {2, 3}},
        {"v =", 20, {"v", ""}, {2, 4}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(Parse(c.line), 0);
        EXPECT_EQ(s->command, c.command);
        ASSERT_EQ(s->argc, c.args.size());
        for (size_t i = 0; i < c.args.size(); ++i) {
            EXPECT_EQ(std::string(s->args[i]), c.args[i]) << "argument " << i;
            if (!c.kinds.empty()) {
                EXPECT_EQ(s->kinds[i], c.kinds[i]) << "argument " << i;
            }
        }
        EXPECT_EQ(s->resultType, NO_TYPE);
        EXPECT_EQ(s->fileOutput, 0);
    }
}

TEST_F(ParseTest, KeepsAtMost25Arguments)
{
    std::string src = "{Print} 0";
    for (int i = 1; i < 30; ++i) src += "," + std::to_string(i);
    ASSERT_EQ(Parse(src.c_str()), 0);
    EXPECT_EQ(s->argc, 25);
    EXPECT_STREQ(s->args[24], "24");
}

TEST_F(ParseTest, RefusesUnbalancedParenthesesAndOverlongArguments)
{
    EXPECT_EQ(Parse("{Print} (1, 2"), 1);
    EXPECT_EQ(k.errorCode, 18);
    EXPECT_EQ(Parse("{Print} f(1))"), 1);
    EXPECT_EQ(k.errorCode, 18);

    std::string fits = "{Print} \"" + std::string(253, 'x') + "\", 1";
    EXPECT_EQ(Parse(fits.c_str()), 0);
    EXPECT_EQ(strlen(s->args[0]), 255u);
    std::string tooLong = "{Print} \"" + std::string(254, 'x') + "\", 1";
    EXPECT_EQ(Parse(tooLong.c_str()), 1);
    EXPECT_EQ(k.errorCode, 1);
    std::string longValue = "a = \"" + std::string(300, 'y') + "\"";
    EXPECT_EQ(Parse(longValue.c_str()), 1);
    EXPECT_EQ(k.errorCode, 1);
}

TEST_F(ParseTest, RefusesTruncatedCommandTokens)
{
    std::string line = "\xFF";
    k.errorCode = 0;
    EXPECT_EQ(k.ParseLine(s, &line[0]), 1);
    EXPECT_EQ(k.errorCode, 1);
    line = "\xFF\xE0";
    EXPECT_EQ(k.ParseLine(s, &line[0]), 1);
}

TEST_F(ParseTest, ImplicitCallBeforeInitIsRefused)
{
    EXPECT_EQ(Parse("mysub 1, 2"), 1);
    EXPECT_EQ(k.errorCode, 1);
}

TEST(Interpreter, CommandsWithoutHandlerAreAnErrorNotAJump)
{
    Kestrin k;
    StmtRec* s = k.NewStatementRecord(MAX_ARGS);
    for (int n : {249, 250, 300, 511}) {
        s->command = (uint16_t)n;
        k.errorCode = 0;
        EXPECT_EQ(k.Execute(s), nullptr) << n;
        EXPECT_EQ(k.errorCode, 1) << n;
    }
    k.FreeStatementRecord(s);
}

TEST(Interpreter, CommandTableFollowsTheNameTable)
{
    Kestrin k;
    int noOps = 0;
    for (int n = 0; n < COMMAND_SLOTS; ++n) {
        const char* name = CommandHandlerName(n);
        if (!name) {
            EXPECT_EQ(k.commandTable[n], nullptr) << n;
            continue;
        }
        EXPECT_NE(k.commandTable[n], nullptr) << n;
        if (strcmp(name, "CmdNoOp") == 0) {
            ++noOps;
            EXPECT_TRUE(k.commandTable[n] == &Kestrin::CmdNoOp) << n;
        }
    }
    EXPECT_EQ(noOps, 44);
    EXPECT_TRUE(k.commandTable[13] == k.commandTable[66]);
    EXPECT_TRUE(k.commandTable[23] == k.commandTable[56]);
}

TEST(Interpreter, ConstantTableAndInitialState)
{
    Kestrin k;
    EXPECT_EQ(k.constants[12], 0x80000000u);
    EXPECT_EQ(k.constants[213], 0xFFFFFFFEu);
    EXPECT_EQ(k.constants[5], 0x20000u);
    EXPECT_EQ(k.constants[497], 0u);
    EXPECT_EQ(k.constants[490], 32783u);
    EXPECT_EQ(k.autoDeclare, 1);
    EXPECT_EQ(k.decimalPrec, 2);
    EXPECT_EQ(k.stdoutRec.next, &k.stdinRec);
    EXPECT_EQ(k.stdinRec.next, &k.decimalPrecRec);
    EXPECT_EQ(k.decimalPrecRec.prev, &k.stdinRec);
    EXPECT_EQ(k.stdoutRec.prev, nullptr);
    EXPECT_EQ(k.CurrentScope(), nullptr);
}

TEST(Interpreter, StackHoldsExactly4096Values)
{
    Kestrin k;
    k.stack = (uint32_t*)calloc(STACK_SLOTS, sizeof(uint32_t));
    EXPECT_EQ(k.PopStack(), 0u);
    for (uint32_t i = 0; i < STACK_SLOTS; ++i) ASSERT_EQ(k.PushStack(i + 1), 1);
    EXPECT_EQ(k.PushStack(99), 0);
    EXPECT_EQ(k.stackTop, (uint32_t)STACK_SLOTS);
    EXPECT_EQ(k.PopStack(), (uint32_t)STACK_SLOTS);
    EXPECT_EQ(k.stackTop, (uint32_t)STACK_SLOTS - 1);
}
