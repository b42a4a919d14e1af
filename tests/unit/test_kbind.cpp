// Command names and the source notation of program images.
#include "interp/CommandNames.h"
#include "tools/kbind/SourceNotation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

namespace {

std::string Bytes(std::initializer_list<int> v)
{
    std::string s;
    for (int b : v) s += static_cast<char>(b);
    return s;
}

std::string Bind(const std::string& src)
{
    std::string image, error;
    EXPECT_TRUE(SourceToImage(src, image, error)) << error << " for: " << src;
    return image;
}

TEST(CommandNames, KnownSlots)
{
    struct Case {
        int n;
        const char* name;
    } cases[] = {
        {0, "CmdPrint"},       {1, "CmdInput"},        {7, "CmdNoOp"},       {12, "CmdPumpEvents"},
        {13, "CmdGoto"},       {66, "CmdGoto"},        {20, "CmdAssign"},    {23, "CmdLabel"},
        {56, "CmdLabel"},      {44, "CmdCallSub"},     {75, "CmdNoOp"},      {83, "CmdDeclare"},
        {107, "CmdTruncate"},  {120, "CmdCallExternal"}, {155, "CmdSetConstant"}, {222, "CmdControlCommand"},
        {247, "CmdNoOp"},      {248, "CmdGetCaretPos"},
    };
    for (const Case& c : cases) {
        ASSERT_NE(CommandHandlerName(c.n), nullptr) << c.n;
        EXPECT_STREQ(CommandHandlerName(c.n), c.name) << c.n;
    }
    for (int n : {-1, 249, 250, 511, 100000}) EXPECT_EQ(CommandHandlerName(n), nullptr) << n;
}

TEST(CommandNames, EverySlotNamedAndOnlyKnownSharing)
{
    std::map<std::string, int> uses;
    for (int n = 0; n < 249; ++n) {
        const char* h = CommandHandlerName(n);
        ASSERT_NE(h, nullptr) << n;
        EXPECT_EQ(std::strncmp(h, "Cmd", 3), 0) << h;
        EXPECT_GT(std::strlen(h), 3u) << n;
        ++uses[h];
    }
    EXPECT_EQ(uses["CmdNoOp"], 44);
    for (const auto& u : uses) {
        if (u.first != "CmdNoOp" && u.first != "CmdGoto" && u.first != "CmdLabel") {
            EXPECT_EQ(u.second, 1) << u.first;
        }
    }
    EXPECT_EQ(uses["CmdGoto"], 2);
    EXPECT_EQ(uses["CmdLabel"], 2);
    const int noops[] = {7,   35,  57,  67,  75,  140, 156, 157, 158, 159, 160, 161, 162, 163, 164,
                         165, 166, 167, 169, 170, 172, 173, 174, 175, 176, 177, 179, 180, 181, 182,
                         183, 218, 228, 229, 230, 231, 232, 233, 234, 235, 236, 237, 239, 247};
    for (int n : noops) EXPECT_STREQ(CommandHandlerName(n), "CmdNoOp") << n;
}

TEST(CommandNames, NumberByName)
{
    struct Case {
        const char* name;
        int n;
    } cases[] = {
        {"CmdPrint", 0},  {"Print", 0},    {"PRINT", 0},    {"cmdprint", 0}, {"Goto", 13},
        {"CmdLabel", 23}, {"NoOp", 7},     {"CallExternal", 120}, {"End", 22}, {"EndWhile", 5},
        {"Cmd", -1},      {"", -1},        {"Prin", -1},    {"PrintX", -1},  {"CmdCmdPrint", -1},
        {"EndIf", -1},    {" Print", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(CommandNumberByName(c.name), c.n) << c.name;
    EXPECT_EQ(CommandNumberByName(nullptr), -1);
    for (int n = 0; n < CommandSlots; ++n) {
        const char* h = CommandHandlerName(n);
        if (h == nullptr) continue;
        int found = CommandNumberByName(h);
        EXPECT_LE(found, n);
        EXPECT_STREQ(CommandHandlerName(found), h);
        EXPECT_EQ(CommandNumberByName(h + 3), found);
    }
}

TEST(SourceNotation, Tokens)
{
    EXPECT_EQ(CommandToken(0), Bytes({0xFF, 0xE0, 0xE0}));
    EXPECT_EQ(CommandToken(44), Bytes({0xFF, 0xE2, 0xEC}));
    EXPECT_EQ(CommandToken(120), Bytes({0xFF, 0xE7, 0xE8}));
    EXPECT_EQ(CommandToken(511), Bytes({0xFF, 0xFF, 0xEF}));
    EXPECT_EQ(ConstantToken(0), Bytes({0xFE, 0xE0, 0xE0}));
    EXPECT_EQ(ConstantToken(70), Bytes({0xFE, 0xE4, 0xE6}));
    EXPECT_EQ(ConstantToken(497), Bytes({0xFE, 0xFF, 0xE1}));
    // The run-time's decoding of constant tokens: ((b1 & 0x1F) * 16) + (b2 - 0xE0).
    for (int e = 0; e < ConstantEntries; ++e) {
        std::string t = ConstantToken(e);
        int b1 = static_cast<unsigned char>(t[1]), b2 = static_cast<unsigned char>(t[2]);
        EXPECT_EQ((b1 & 0x1F) * 16 + (b2 - 0xE0), e);
    }
}

TEST(SourceNotation, SourceToImage)
{
    const std::string nul(1, '\0');
    struct Case {
        std::string src, image;
    } cases[] = {
        {"", nul},
        {"\n", "\r\n" + nul},
        {"a", "a\r\n" + nul},
        {"a\n", "a\r\n" + nul},
        {"a\r\nb\r\n", "a\r\nb\r\n" + nul},
        {"a\r\n\r\n", "a\r\n\r\n" + nul},
        {"a\r", "a\r\r\n" + nul},  // a CR not before LF is content
        {"a\r\r\n", "a\r\r\n" + nul},
        {"{Print} 1", CommandToken(0) + " 1\r\n" + nul},
        {"{print}{CMDPRINT}{cmdPrint}", CommandToken(0) + CommandToken(0) + CommandToken(0) + "\r\n" + nul},
        {"{Goto}{66}{Label}{56}", CommandToken(13) + CommandToken(66) + CommandToken(23) + CommandToken(56) + "\r\n" + nul},
        {"{EndIf}{NoOp}{EndType}{CmdEndType}", CommandToken(7) + CommandToken(7) + CommandToken(75) + CommandToken(75) + "\r\n" + nul},
        {"{0}{007}{249}{511}", CommandToken(0) + CommandToken(7) + CommandToken(249) + CommandToken(511) + "\r\n" + nul},
        {"x={#0}+{#497}", "x=" + ConstantToken(0) + "+" + ConstantToken(497) + "\r\n" + nul},
        {"{x00}{xff}{XAb}{x7B}", Bytes({0, 0xFF, 0xAB, '{'}) + "\r\n" + nul},
        {"{{}} } {{Print}", "{}} } {Print}\r\n" + nul},
        {"\t\xff\x01", "\t\xff\x01\r\n" + nul},
        {"a\nb{$}", "a\r\nb"},
        {"a{x00}{$}\n", "a" + nul},
        {"{$}", ""},
        {"{$}\r\n", ""},
    };
    for (const Case& c : cases) {
        std::string image = Bind(c.src);
        EXPECT_EQ(image, c.image) << "source: " << c.src;
    }
}

TEST(SourceNotation, Errors)
{
    struct Case {
        std::string src;
        int line;
        const char* part;
    } cases[] = {
        {"{Frobnicate}", 1, "unknown command name {Frobnicate}"},
        {"a\nb\n{Cmd}", 3, "unknown command name"},
        {"{512}", 1, "out of range"},
        {"{99999999999999999999}", 1, "out of range"},
        {"{#498}", 1, "out of range"},
        {"{#}", 1, "malformed"},
        {"{#1a}", 1, "malformed"},
        {"{x4}", 1, "malformed byte"},
        {"{x123}", 1, "malformed byte"},
        {"{}", 1, "empty"},
        {"{Print", 1, "without"},
        {"ok\r\n{", 2, "without"},
        {"{a b}", 1, "malformed"},
        {"{-1}", 1, "malformed"},
        {"{$}x", 1, "must end the line"},
        {"a{$}\nb", 1, "must end the last line"},
        {"a{$}\n\n", 1, "must end the last line"},
    };
    for (const Case& c : cases) {
        std::string image, error;
        int line = -1;
        EXPECT_FALSE(SourceToImage(c.src, image, error, line)) << c.src;
        EXPECT_EQ(line, c.line) << c.src;
        EXPECT_NE(error.find(c.part), std::string::npos) << c.src << " -> " << error;
        std::string error3;
        EXPECT_FALSE(SourceToImage(c.src, image, error3));
        EXPECT_EQ(error3, "line " + std::to_string(c.line) + ": " + error);
    }
}

TEST(SourceNotation, ImageToSource)
{
    const std::string nul(1, '\0');
    struct Case {
        std::string image, src;
    } cases[] = {
        {nul, ""},
        {"\r\n" + nul, "\n"},
        {"a b\r\nc\r\n" + nul, "a b\nc\n"},
        {CommandToken(0) + " 1\r\n" + nul, "{Print} 1\n"},
        {CommandToken(13) + CommandToken(66) + CommandToken(23) + CommandToken(56) + "\r\n" + nul,
         "{Goto}{66}{Label}{56}\n"},
        {CommandToken(7) + CommandToken(35) + CommandToken(75) + CommandToken(249) + CommandToken(511) + "\r\n" + nul,
         "{EndIf}{35}{EndType}{249}{511}\n"},
        {ConstantToken(70) + ConstantToken(497) + "\r\n" + nul, "{#70}{#497}\n"},
        {Bytes({0xFE, 0xFF, 0xE2}) + "\r\n" + nul, "{xFE}{xFF}{xE2}\n"},  // entry 498
        {Bytes({0xFF, 0xE0, 0xF0}) + "\r\n" + nul, "{xFF}{xE0}{xF0}\n"},  // low digit above 15
        {Bytes({0xFE, 0xDF, 0xE0}) + "\r\n" + nul, "{xFE}{xDF}{xE0}\n"},
        {Bytes({0xFF, 0xE0}) + "\r\n" + nul, "{xFF}{xE0}\n"},           // token cut by the line end
        {"{x}\t\x7f\x1f~\r\n" + nul, "{{x}\t{x7F}{x1F}~\n"},
        {"a\rb\nc\r\r\n" + nul, "a{x0D}b{x0A}c{x0D}\n"},
        {"a\r\n" + nul + "b\r\n" + nul, "a\n{x00}b\n"},
        // images that do not end with CR LF NUL
        {"", "{$}"},
        {"abc", "abc{$}"},
        {"abc" + nul, "abc{x00}{$}"},
        {"a\r\nb\r\n", "a\nb\n{$}"},
        {"a\r\n\r", "a\n{x0D}{$}"},
        {"a\r\n" + nul + nul, "a\n{x00}{x00}{$}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ImageToSource(c.image), c.src);
        EXPECT_EQ(Bind(c.src), c.image) << "listing: " << c.src;
    }
}

TEST(SourceNotation, EveryByteValueRoundTrips)
{
    std::string line;
    for (int b = 0; b < 256; ++b) line += static_cast<char>(b);
    for (const std::string& image : {line + "\r\n" + std::string(1, '\0'), line, line + line}) {
        std::string src = ImageToSource(image);
        EXPECT_EQ(Bind(src), image);
        for (char c : src) {  // the listing is printable text with line ends and tabs
            unsigned char u = static_cast<unsigned char>(c);
            EXPECT_TRUE((u >= 0x20 && u < 0x7F) || u == '\t' || u == '\n') << int(u);
        }
    }
}

TEST(SourceNotation, EveryTokenRoundTrips)
{
    for (int n = 0; n <= MaxTokenCommand; ++n) {
        std::string image = "x" + CommandToken(n) + "(1)\r\n" + std::string(1, '\0');
        std::string src = ImageToSource(image);
        EXPECT_EQ(Bind(src), image) << n;
        EXPECT_EQ(Bind("x{" + std::to_string(n) + "}(1)"), image) << n;
    }
    for (int e = 0; e < ConstantEntries; ++e) {
        std::string image = ConstantToken(e) + "\r\n" + std::string(1, '\0');
        EXPECT_EQ(ImageToSource(image), "{#" + std::to_string(e) + "}\n");
        EXPECT_EQ(Bind(ImageToSource(image)), image);
    }
}

TEST(SourceNotation, RandomImagesRoundTrip)
{
    // Bytes drawn mostly from the ones the notation treats specially.
    const unsigned char pool[] = {0xFF, 0xFE, 0xE0, 0xE5, 0xEF, 0xF0, 0xFF, '\r', '\n', 0, '{', '}',
                                  '$', 'x', '#', '\t', 'a', '1', 0x7F, 0x80, 0xDF};
    unsigned state = 12345;
    for (int round = 0; round < 3000; ++round) {
        std::string image;
        state = state * 1103515245u + 12345u;
        size_t len = (state >> 16) % 24;
        for (size_t i = 0; i < len; ++i) {
            state = state * 1103515245u + 12345u;
            image += static_cast<char>(pool[(state >> 16) % sizeof pool]);
        }
        if (round % 2 == 0) image += std::string("\r\n") + '\0';
        std::string src = ImageToSource(image);
        std::string back;
        std::string error;
        ASSERT_TRUE(SourceToImage(src, back, error)) << error;
        ASSERT_EQ(back, image) << "listing: " << src;
        ASSERT_EQ(ImageToSource(back), src);
    }
}

} // namespace
