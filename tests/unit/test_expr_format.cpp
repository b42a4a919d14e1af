// Limits of the numeric conversion commands: results never outgrow SYSTEM_STRING0.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "interp/Kestrin.h"

namespace {

struct FormatTest : ::testing::Test {
    Kestrin k;
    StmtRec* s = nullptr;
    std::string line;
    void SetUp() override
    {
        ASSERT_EQ(k.Init(), 1);
        s = k.NewStatementRecord(MAX_ARGS);
        ASSERT_NE(s, nullptr);
    }
    void TearDown() override { k.FreeStatementRecord(s); }
    // Runs command n with the argument text and returns its STRING result.
    std::string Run(int n, const std::string& args)
    {
        line = std::string("\xFF") + (char)(0xE0 + n / 16) + (char)(0xE0 + n % 16) + " " + args;
        k.errorCode = 0;
        EXPECT_EQ(k.ParseLine(s, &line[0]), 0);
        if (!k.Execute(s)) return "<failed>";
        EXPECT_EQ(s->resultType, T_STRING);
        return Kestrin::StorageStart(k.sysString);
    }
};

}

TEST_F(FormatTest, HugePrecisionIsCutAtTheResultSize)
{
    k.decimalPrec = 2000000000;
    std::string r = Run(80, "0.5");
    EXPECT_EQ(r.size(), 65534u);
    EXPECT_EQ(r.substr(0, 8), " 0.50000");
    k.decimalPrec = -3;   // as if no precision were given
    EXPECT_EQ(Run(80, "0.25"), " 0.250000");
}

TEST_F(FormatTest, WidePicturesAreCutAtTheResultSize)
{
    char picName[] = "pic[65100]", textName[] = "t[30000]";
    VarRec* pic = k.CreateVariable(picName, T_ISTRING, 1, nullptr);
    VarRec* t = k.CreateVariable(textName, T_ISTRING, 1, nullptr);
    ASSERT_NE(pic, nullptr);
    ASSERT_NE(t, nullptr);
    memset(t->data, 'x', 30000);

    // Three inserted texts of 30000 characters: more than the result holds.
    strcpy(pic->data, "&|&|&");
    std::string r = Run(215, "pic, t, t, t");
    EXPECT_EQ(r.size(), 65534u);
    EXPECT_EQ(r.substr(29998, 4), "xx|x");

    // One field 65000 digits wide, with thousands separators.
    memset(pic->data, '#', 65000);
    strcpy(pic->data + 65000, ",.##");
    r = Run(215, "pic, 1234567.891");
    EXPECT_EQ(r.size(), 65005u);
    EXPECT_EQ(r.substr(r.size() - 13), " 1,234,567.89");
    EXPECT_EQ(Run(215, "\"#,###.##\", 1234567.891"), "1,234,567.89");
}

TEST_F(FormatTest, CountsAndTypesOfArguments)
{
    EXPECT_EQ(Run(215, "\"##\""), "<failed>");
    EXPECT_EQ(k.errorCode, 56);
    EXPECT_EQ(Run(53, "1, 2"), "<failed>");
    EXPECT_EQ(k.errorCode, 56);
    EXPECT_EQ(Run(80, "\"x\""), "<failed>");
    EXPECT_EQ(k.errorCode, 19);
    EXPECT_EQ(Run(53, "4294967296"), "100000000");
    EXPECT_EQ(Run(215, "\"[#]\", 12345"), "[12345]");   // a field wider than its digits grows
    EXPECT_EQ(Run(215, "\"0##\", -5"), "-05");
}
