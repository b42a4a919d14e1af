// Run-time errors of the file, file-system and directory-search commands, and
// the handles and slots they must refuse instead of following.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include "interp/Kestrin.h"
#include "startup/ProgramImage.h"
#include "tools/kbind/SourceNotation.h"
#include "tests/unit/ProgramRunner.h"

namespace {

using programrunner::QuietKestrin;

struct Outcome {
    int error;
    std::string text;
};

Outcome RunSource(const std::string& src)
{
    std::string image, message;
    int line = 0;
    if (!SourceToImage(src, image, message, line)) return {-1, message};
    char* copy = ProgramImage::CopyPlain(image.data(), image.size());
    QuietKestrin* k = new QuietKestrin;
    ProgramImage::RunInterpreter(*k, copy);
    Outcome out = {k->errorCode, k->ErrorText()};
    delete k;
    free(copy);
    return out;
}

// Each program runs in a fresh directory of its own.
struct FileErrors : ::testing::Test {
    char saved[MAX_PATH] = {0};
    std::string dir;
    void SetUp() override
    {
        char tmp[MAX_PATH];
        GetTempPathA(MAX_PATH, tmp);
        dir = std::string(tmp) + "kestrin_files_errors_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir.c_str(), nullptr);
        GetCurrentDirectoryA(MAX_PATH, saved);
        ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(saved);
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do DeleteFileA((dir + "\\" + fd.cFileName).c_str());
            while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryA(dir.c_str());
    }
};

const char* const TextFile = "{Define} f:FILE\n{OpenFile} f, \"u.txt\", \"W\"\n{WriteFile} f, 5\n"
                             "{CloseFile} f\n{OpenFile} f, \"u.txt\", \"R\"\n";
const char* const BinFile = "{Define} bf:BFILE\n{Define} n:INT\n{OpenFile} bf, \"u.dat\", \"W\"\n"
                            "{WriteFile} bf, n\n";

struct Case {
    const char* prefix;   // lines before the statement under test
    const char* last;     // the statement that must fail
    int error;
};

const Case Cases[] = {
    // argument counts and modes
    {"{Define} f:FILE\n", "{OpenFile} f, \"u.txt\"", 1},
    {"{Define} f:FILE\n", "{OpenFile} f, \"u.txt\", \"w\", 1", 1},
    {"{Define} f:FILE\n", "{OpenFile} f, \"u.txt\", \"x\"", 1},
    {"{Define} f:FILE\n", "{OpenFile} f, \"u.txt\", \"\"", 1},
    {"{Define} f:FILE\n", "{ReadFile} f", 1},
    {"", "{WriteFile}", 1},
    {"", "{CloseFile}", 1},
    {BinFile, "{GetRecord} bf, 1", 1},
    {BinFile, "{PutRecord} bf, 1, n, n", 1},
    {BinFile, "{FilePosition} bf, 1, 2", 1},
    // wrong types
    {"{Define} n:INT\n", "{OpenFile} n, \"u.txt\", \"w\"", 14},
    {"{Define} n:INT\n{Define} s:STRING\nn = 5\n", "{ReadFile} n, s", 14},
    {"{Define} n:INT\n", "{CloseFile} n", 14},
    {TextFile, "{FilePosition} f", 14},
    {TextFile, "{GetRecord} f, 1, f", 14},
    // no text form for handles and structures
    {TextFile, "{Define} w:WINDOW\n{ReadFile} f, w", 14},
    {TextFile, "{Define} g:BFILE\n{ReadFile} f, g", 14},
    {TextFile, "{Type} T\n{Define} a:INT\n{75}\n{Define} t:T\n{ReadFile} f, t", 14},
    // raw bytes never land in a slot that holds a stream or an object
    {BinFile, "{Define} g:FILE\n{ReadFile} bf, g", 14},
    {BinFile, "{Define} p:POINTER\n{GetRecord} bf, 1, p", 14},
    // record numbers
    {BinFile, "{GetRecord} bf, 0, n", 46},
    {BinFile, "{PutRecord} bf, -3, n", 46},
    // files that are not open
    {"{Define} f:FILE\n{Define} s:STRING\n", "{ReadFile} f, s", 52},
    {"{Define} f:FILE\n", "{WriteFile} f, 1", 52},
    {"{Define} bf:BFILE\n{Define} n:INT\n", "{GetRecord} bf, 1, n", 52},
    {"{Define} bf:BFILE\n{Define} n:INT\n", "{PutRecord} bf, 1, n", 52},
    {"{Define} bf:BFILE\n", "{FilePosition} bf", 52},
    {"{Define} f:FILE\n{Define} n:INT\n", "n = {AtEndOfFile}(f)", 52},
    {"{Define} f:FILE\n{OpenFile} f, \"missing.txt\", \"R\"\n{Define} s:STRING\n", "{ReadFile} f, s", 52},
    // a number that is no stream of ours, and a copy of a stream closed through another variable
    {"{Define} f:FILE\n{Define} s:STRING\nf = 12345\n", "{ReadFile} f, s", 52},
    {"{Define} bf:BFILE\nbf = 4096\n", "{FilePosition} bf", 52},
    {"{Define} f, g:FILE\n{OpenFile} f, \"u.txt\", \"W\"\ng = f\n{CloseFile} f\n", "{WriteFile} g, 1", 52},
    // lookups
    {TextFile, "{ReadFile} f, nosuchvariable", 10},
    // file system: argument counts
    {"", "{CopyFile} \"a\", \"b\"", 56},
    {"", "{DeleteFile} \"a\", \"b\"", 56},
    {"", "{CreateDirectory}", 56},
    {"", "{RemoveDirectory} \"a\", 1", 56},
    {"", "{FindOpen}", 56},
    {"", "{FindNext}", 56},
    {"", "{FindClose} 1, 2", 56},
    // finder handles that were never handed out, or are already closed
    {"{Define} s:STRING\n", "s = {FindNext}(12345)", 7},
    {"", "{FindClose} 305419896", 7},
    {"{Define} h:INT\nh = {FindOpen}(\"*\")\n{FindClose} h\n", "{FindClose} h", 7},
    {"{Define} h:INT\n{Define} s:STRING\nh = {FindOpen}(\"*\")\n{FindClose} h\n", "s = {FindNext}(h)", 7},
};

}

TEST_F(FileErrors, EachCaseStopsAtItsStatementWithItsCode)
{
    for (const Case& c : Cases) {
        std::string src = std::string(c.prefix) + c.last + "\n{Print} \"not reached\"\n";
        int line = 1;
        for (const char* p = c.prefix; *p; ++p) line += *p == '\n';
        // A multi-line "last" part ends with the failing line.
        for (const char* p = c.last; *p; ++p) line += *p == '\n';
        Outcome out = RunSource(src);
        EXPECT_EQ(out.error, c.error) << c.last << "\n" << out.text;
        EXPECT_NE(out.text.find("Line number: " + std::to_string(line) + "\n"), std::string::npos)
            << c.last << "\n" << out.text;
    }
}

TEST_F(FileErrors, HandleZeroAndFailedOpensAreNotErrors)
{
    const char* src =
        "{Define} f:FILE\n{Define} bf:BFILE\n{Define} h:INT\n{Define} s:STRING\n"
        "{OpenFile} f, \"missing.txt\", \"r\"\n"
        "{OpenFile} bf, \"missing.dat\", \"a\"\n"
        "{CloseFile} f\n{CloseFile} bf\n"
        "h = {FindOpen}(\"nothing matches *.this\")\n"
        "s = {FindNext}(h)\n{FindNext} 0\n{FindClose} h\n{FindClose} 0\n"
        "h = {DeleteFile}(\"missing.txt\")\n"
        // left open: released with the interpreter
        "h = {FindOpen}(\"*\")\ns = {FindNext}(h)\n";
    Outcome out = RunSource(src);
    EXPECT_EQ(out.error, 0) << out.text;
}
