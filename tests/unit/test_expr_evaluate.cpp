// The expression evaluator on its own: literals, operators, precedence, strings,
// slots, constants and the limits of one evaluation.
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <string>
#include "interp/Kestrin.h"

namespace {

struct ExprTest : ::testing::Test {
    Kestrin k;
    void SetUp() override
    {
        ASSERT_EQ(k.Init(), 1);
        k.namedConstants.emplace_back("RED", 255);
        k.namedConstants.emplace_back("ALL", -1);
    }
    std::string ResultText() { return Kestrin::StorageStart(k.sysString); }
    VarRec* Var(const char* name, int type, uint32_t count = 1)
    {
        std::string n = name;
        VarRec* v = k.CreateVariable(&n[0], type, count, nullptr);
        EXPECT_NE(v, nullptr) << name;
        return v;
    }
    void SetInt(VarRec* v, int32_t x) { memcpy(v->data, &x, 4); }
};

struct NumberCase {
    const char* text;
    double value;
};

}

TEST_F(ExprTest, NumbersOperatorsAndPrecedence)
{
    const NumberCase cases[] = {
        {"(2+3)*4", 20}, {"2+3*4", 14}, {"-2^2", 4}, {"2^3^2", 64}, {"8-3-2", 3}, {"2*3^2", 18},
        {"7 % 3", 1}, {"-7 % 3", -1}, {"7.9 % 2", 1}, {"10/4", 2.5}, {"6 & 3", 2}, {"5 | 2", 7},
        {"1 || 3", 2}, {"-1 || 0", -1}, {"&H1F", 31}, {"&X1F", 31}, {"0x1F", 31}, {"&h1f", 31},
        {"&B101", 5}, {"&O17", 15}, {"&1F", 31}, {"&HFFFFFFFFF", 4294967295.0}, {"0X1F", 0},
        {"1.5e2", 150}, {".5", 0.5}, {"+5", 5}, {"1e3", 1}, {"1<2<3", 1}, {"3>1 & 3<5", 1},
        {"0>1 | 2>1", 1}, {"2 <= 2", 1}, {"3 >= 4", 0}, {"1 <> 2", 1}, {"1 ~ 1", 0}, {"4 = 4", 1},
        {"- -5", 5}, {"5 - -3", 8}, {"-(-5)", 5}, {"((((1))))", 1}, {"2147483647 + 1", 2147483648.0},
        {"12345678901", 12345678901.0}, {"(1+2)*(3+4)-(5)", 16}, {" \t7 ", 7},
        {"\xFE\xE0\xE5", 0x20000}, {"\xFE\xE0\xEC + 0", 2147483648.0}, {"@RED + 1", 256},
        {"@red", 255}, {"@ALL", 4294967295.0}, {"1+1+1+1+1+1+1+1+1+1+1+1+1+1+1", 15},
        {"12 & 10", 8}, {"1.9 | 0", 1}, {"-1.9 & -1", -1},
    };
    for (const auto& c : cases) {
        k.errorCode = 0;
        double v = k.Evaluate(c.text);
        EXPECT_EQ(k.errorCode, 0) << c.text;
        EXPECT_EQ(k.stringResult, 0) << c.text;
        EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
}

TEST_F(ExprTest, StringsConcatenateAndCompareBytewise)
{
    struct StringCase {
        const char* text;
        const char* result;   // null: a number
        double value;
    } cases[] = {
        {"\"ab\" + \"cd\"", "abcd", 0},
        {"(\"a(\" + \")\") + \"b\"", "a()b", 0},
        {"\"x\"", "x", 0},
        {"\"a\" < \"b\"", nullptr, 1},
        {"\"a\" = \"A\"", nullptr, 0},
        {"\"abc\" = \"abc\"", nullptr, 1},
        {"\"abc\" <> \"abd\"", nullptr, 1},
        {"\"\xE9\" > \"z\"", nullptr, 1},
        {"\"ab\" = \"a\" + \"b\"", nullptr, 1},
        {"\"a\" + \"b\" = \"ab\"", nullptr, 1},
        {"(\"a\" = \"a\") & (\"b\" < \"c\")", nullptr, 1},
    };
    for (const auto& c : cases) {
        k.errorCode = 0;
        double v = k.Evaluate(c.text);
        EXPECT_EQ(k.errorCode, 0) << c.text;
        EXPECT_EQ(k.stringResult, c.result ? 1 : 0) << c.text;
        if (c.result) EXPECT_EQ(ResultText(), c.result) << c.text;
        else EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
}

TEST_F(ExprTest, ErrorsStopTheEvaluationWithZero)
{
    std::string fourteen = "1+1+1+1+1+1+1+1+1+1+1+1+1+1+1";
    std::string nest28 = std::string(28, '(') + "1" + std::string(28, ')');
    std::string nest29 = std::string(29, '(') + "1" + std::string(29, ')');
    // 27 string groups plus the final entry fill the 28 string slots.
    std::string strings28 = std::string(27, '(') + "\"a\"" + std::string(27, ')');
    std::string strings29 = std::string(28, '(') + "\"a\"" + std::string(28, ')');
    ASSERT_EQ(k.Evaluate(nest28.c_str()), 1);   // 28 groups and the final entry: 29 numbers
    ASSERT_EQ(k.errorCode, 0);
    struct ErrorCase {
        std::string text;
        int code;
    } cases[] = {
        {"7/0", 8}, {"7 % 0.5", 8}, {"1/0 + 2", 8}, {fourteen + "+1", 16}, {nest29, 32},
        {strings29, 32}, {"\"abc", 1}, {"\"x\" + 1", 1}, {"1 + \"x\"", 1}, {"\"a\" - \"b\"", 1},
        {"\"a\" * 2", 1}, {"@BLUE", 24}, {"2 +", 1}, {"", 1}, {"   ", 1}, {"()", 1}, {"5 ! 3", 1},
        {"5 $ 3", 1}, {"5 ; 3", 1}, {"3 && 1", 1}, {".", 1}, {"(1+2", 18}, {"1+2)", 18},
        {std::string(1024, '1'), 1}, {"\x04\x01", 1}, {"\x05\x09 + 1", 1}, {"\xFE\xFF\xEF", 1},
        {"\xFE\xE0", 1}, {"\xFF\xEF\xEF(1)", 1},
    };
    for (const auto& c : cases) {
        k.errorCode = 0;
        double v = k.Evaluate(c.text.c_str());
        EXPECT_EQ(k.errorCode, c.code) << c.text;
        EXPECT_EQ(v, 0.0) << c.text;
        EXPECT_EQ(k.stringResult, 0) << c.text;
    }
    k.errorCode = 0;
    EXPECT_EQ(k.Evaluate(strings28.c_str()), 0.0);
    EXPECT_EQ(k.errorCode, 0);
    EXPECT_EQ(ResultText(), "a");
}

TEST_F(ExprTest, NamesResolveAndNegate)
{
    SetInt(Var("x", T_INT), 3);
    VarRec* s = Var("s$", T_STRING);
    strcpy(s->data, "hi");
    VarRec* a = Var("a[3]", T_INT);
    int32_t values[3] = {10, 20, 30};
    memcpy(a->base, values, sizeof values);
    VarRec* w = Var("w", T_WORD);
    uint16_t wv = 65535;
    memcpy(w->data, &wv, 2);
    VarRec* c = Var("c", T_CHAR);
    c->data[0] = (char)0xFF;
    const NumberCase cases[] = {
        {"x*2", 6}, {"-x", -3}, {"-x + 1", -2}, {"2 - -x", 5}, {"(x)", 3}, {"-(x)", -3},
        {"-(-x)", 3}, {"a[2] - a[0]", 20}, {"a[(1+1)]", 30}, {"a[x-2] + 0", 20}, {"w + 1", 65536},
        {"c", -1}, {"x = 3 & s$ = \"hi\"", 1}, {"(x = 3) & (s$ = \"hi\")", 1}, {"DECIMAL_PREC + 0", 2},
    };
    for (const auto& t : cases) {
        k.errorCode = 0;
        double v = k.Evaluate(t.text);
        EXPECT_EQ(k.errorCode, 0) << t.text;
        EXPECT_DOUBLE_EQ(v, t.value) << t.text;
    }
    k.errorCode = 0;
    k.Evaluate("s$ + \"!\"");
    EXPECT_EQ(k.errorCode, 0);
    EXPECT_EQ(k.stringResult, 1);
    EXPECT_EQ(ResultText(), "hi!");
    k.Evaluate("(s$)");
    EXPECT_EQ(k.stringResult, 1);
    EXPECT_EQ(ResultText(), "hi");
    k.Evaluate("nosuchname + 1");
    EXPECT_EQ(k.errorCode, 10);
    k.errorCode = 0;
    k.Evaluate("x(1)");   // a variable is no function
    EXPECT_EQ(k.errorCode, 1);
}

TEST_F(ExprTest, ConstantsAreSetByNameAndUpdated)
{
    StmtRec* s = k.NewStatementRecord(MAX_ARGS);
    ASSERT_NE(s, nullptr);
    char line[64];
    strcpy(line, "\xFF\xE9\xEB \"Green\", 10");   // command 155
    ASSERT_EQ(k.ParseLine(s, line), 0);
    ASSERT_EQ(s->command, 155);
    ASSERT_EQ(k.Execute(s), s);
    EXPECT_EQ(k.Evaluate("@GREEN * 2"), 20);
    strcpy(line, "\xFF\xE9\xEB \"green\", 11");
    ASSERT_EQ(k.ParseLine(s, line), 0);
    ASSERT_EQ(k.Execute(s), s);
    EXPECT_EQ(k.Evaluate("@Green"), 11);
    size_t greens = 0;
    for (const auto& e : k.namedConstants) greens += e.first == "GREEN";
    EXPECT_EQ(greens, 1u);
    strcpy(line, "\xFF\xE9\xEB \"blue\"");
    ASSERT_EQ(k.ParseLine(s, line), 0);
    EXPECT_EQ(k.Execute(s), nullptr);
    EXPECT_EQ(k.errorCode, 56);
    k.FreeStatementRecord(s);
}

TEST_F(ExprTest, CommandsRunAsFunctionsWithTheirArguments)
{
    // Command 53 (hexadecimal text) takes its argument from a slot and hands back a string.
    k.Evaluate("\xFF\xE3\xE5(255) + \"h\"");
    EXPECT_EQ(k.errorCode, 0);
    EXPECT_EQ(k.stringResult, 1);
    EXPECT_EQ(ResultText(), "FFh");
    k.Evaluate("\xFF\xE3\xE5 (2^4 - 1)");
    EXPECT_EQ(ResultText(), "F");
    // Command 73 reads a quoted argument that holds parentheses, and yields a DOUBLE.
    EXPECT_DOUBLE_EQ(k.Evaluate("\xFF\xE4\xE9(\" 2.5(x)\") * 2"), 5.0);
    EXPECT_EQ(k.stringResult, 0);
    k.Evaluate("\xFF\xE4\xE9()");   // no argument
    EXPECT_EQ(k.errorCode, 56);
    k.errorCode = 0;
    k.Evaluate("\xFF\xEF\xE9(1)");   // command 249 has no handler
    EXPECT_EQ(k.errorCode, 1);
}

TEST_F(ExprTest, LongStringsPassWholeToCommands)
{
    VarRec* s = Var("t[600]", T_ISTRING);
    memset(s->data, 'q', 500);
    s->data[500] = 0;
    // Command 73 sees the whole 500-character text (not a number: 0).
    k.errorCode = 0;
    EXPECT_EQ(k.Evaluate("\xFF\xE4\xE9(t + \"1\")"), 0.0);
    EXPECT_EQ(k.errorCode, 0);
    k.Evaluate("(t) + t");
    EXPECT_EQ(k.errorCode, 0);
    EXPECT_EQ(ResultText().size(), 1000u);
}

TEST_F(ExprTest, NestingIsBoundedAndTheCallerTextKept)
{
    char text[] = "(\"a(\" + \"b\") + \"c\"";
    std::string before = text;
    k.Evaluate(text);
    EXPECT_EQ(before, text);
    k.nestingDepth = MAX_NESTING;
    EXPECT_EQ(k.Evaluate("1+1"), 0.0);
    EXPECT_EQ(k.errorCode, 34);
    k.nestingDepth = 0;
}

namespace {

// Handlers that stand for commands handing back unusual results.
struct ResultKestrin : Kestrin {
    StmtRec* CmdUintResult(StmtRec* s)
    {
        uint32_t v = 4000000000u;
        memcpy(sysInt->data, &v, 4);
        s->resultType = T_UINT;
        return s;
    }
    StmtRec* CmdNoValue(StmtRec* s) { return s; }
    StmtRec* CmdStop(StmtRec*) { return nullptr; }
    StmtRec* CmdArgEcho(StmtRec* s)
    {
        std::string all;
        for (int i = 0; i < s->argc; ++i) all += std::to_string(s->kinds[i]) + ":" + s->args[i] + ";";
        strcpy(Kestrin::StorageStart(sysString), all.c_str());
        s->resultType = T_STRING;
        return s;
    }
};

}

TEST(ExprResults, ResultTypesArgumentTextsAndAStoppingCommand)
{
    ResultKestrin k;
    ASSERT_EQ(k.Init(), 1);
    k.commandTable[249] = static_cast<CommandHandler>(&ResultKestrin::CmdUintResult);
    EXPECT_DOUBLE_EQ(k.Evaluate("\xFF\xEF\xE9() + 0"), 4000000000.0);
    k.commandTable[249] = static_cast<CommandHandler>(&ResultKestrin::CmdNoValue);
    EXPECT_DOUBLE_EQ(k.Evaluate("\xFF\xEF\xE9(1) + 5"), 5.0);
    EXPECT_EQ(k.errorCode, 0);

    // Arguments: integers plainly, other numbers with 16 decimals, strings quoted,
    // names as they stand, negated names as expressions.
    k.commandTable[249] = static_cast<CommandHandler>(&ResultKestrin::CmdArgEcho);
    k.Evaluate("\xFF\xEF\xE9(-3, 2.5, \"a(b\", x, -y, 1.0e300 / 1.0e290)");
    EXPECT_EQ(k.errorCode, 0);
    EXPECT_EQ(std::string(Kestrin::StorageStart(k.sysString)),
              "0:-3;0:2.5000000000000000;1:\"a(b\";2:x;3:-y;0:10000000000.0000000000000000;");

    k.lineCount = 10;
    k.currentLine = 3;
    k.commandTable[249] = static_cast<CommandHandler>(&ResultKestrin::CmdStop);
    EXPECT_EQ(k.Evaluate("\xFF\xEF\xE9() + 1"), 0.0);
    EXPECT_EQ(k.errorCode, 0);
    EXPECT_EQ(k.currentLine, 10u);   // the run ends after the statement
    k.lineCount = 0;
    k.currentLine = 0;
}
