// Jumps, calls and block statements that stop a run: the error code and the
// source line of the failing statement, and the run-time stack they leave.
#include <gtest/gtest.h>
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
    int code;
    unsigned line;
};

// Runs a program in source notation; the line is that of the error box (0 without error).
Outcome RunSource(const std::string& source)
{
    char* copy = programrunner::PlainImage(source);
    QuietKestrin* k = new QuietKestrin;
    ProgramImage::RunInterpreter(*k, copy);
    Outcome o{k->errorCode, programrunner::ErrorLine(*k)};
    delete k;
    free(copy);
    return o;
}

struct ErrorCase {
    const char* what;
    const char* source;
    int code;
    unsigned line;
};

}

TEST(FlowErrors, StopWithTheirCodeAndLine)
{
    const ErrorCase cases[] = {
        // block partners missing
        {"if without end", "{If} 0\nx = 1\n", 17, 1},
        {"else without end", "{If} 1\nx = 1\n{Else}\nx = 2\n", 43, 3},
        {"select without end", "{Select} 1\n{Case} 1\n", 36, 1},
        {"while without end", "{While} 1\nx = 1\n", 39, 1},
        {"do without until", "{Do}\nx = 1\n", 50, 1},
        // frames missing or of another kind
        {"case without select", "x = 1\n{Case} 1\n", 37, 2},
        {"default without select", "{Default}\n", 37, 1},
        {"case over a do frame", "{Do}\n{Case} 1\n{Until}\n", 37, 2},
        {"end select without select", "{EndSelect}\n", 38, 1},
        {"end while without while", "{EndWhile}\n", 40, 1},
        {"end while over a select frame", "{Select} 1\n{EndWhile}\n{EndSelect}\n", 40, 2},
        {"until without do", "x = 1\n{Until}\n", 49, 2},
        {"return without call", "{Return}\n", 35, 1},
        {"return past a do frame", "{Do}\n{Return}\n{Until}\n", 35, 2},
        {"falling into a subroutine", "x = 1\nsub s\n{Return}\n", 35, 3},
        // counted loops
        {"next without for", "i = 1\n{Next} i\n", 14, 2},
        {"zero step", "{For} i, 1, 3, 0\n{Next} i\n", 14, 2},
        {"next on a string", "s = \"abc\"\n{Next} s\n", 14, 2},
        {"next without argument", "{Next}\n", 1, 1},
        {"float loop variable", "f = 1.5\n{For} f, 1, 3\n", 20, 2},
        {"do with an argument", "{Do} 1\n{Until}\n", 1, 1},
        {"wait with two arguments", "{WaitUntil} 1, 2\n", 1, 1},
        {"wait on a failing condition", "x = 1\n{WaitUntil} 1 / 0\n", 8, 2},
        {"while on a failing condition", "{While} 1 / 0\n{EndWhile}\n", 8, 1},
        // jumps and calls
        {"goto without argument", "{Goto}\n", 1, 1},
        {"goto unknown label", "x = 1\n{Goto} nowhere\n", 12, 2},
        {"goto a variable", "x = 1\n{Goto} x\n", 14, 2},
        {"goto through a non-string", "x = 1\n{Goto} $x\n", 14, 2},
        {"call unknown", "{CallSub} nowhere\n", 12, 1},
        {"call without argument", "{CallSub}\n", 1, 1},
        {"end with an argument", "{End} 1\n", 1, 1},
        {"local gone after return",
         "s\n{Print} inner\n{End}\nsub s\ninner = 1\n{Return}\n", 10, 2},
        // parameter declarations and binding
        {"declare without parentheses", "{Declare} s\nsub s\n", 1, 1},
        {"parameter without type", "{Declare} s(a)\nsub s\n", 1, 1},
        {"declared twice", "{Declare} s(a:INT)\n{Declare} s(a:INT)\nsub s\n", 51, 2},
        {"declare a variable", "x = 1\n{Declare} x(a:INT)\n", 14, 2},
        {"char parameter", "{Declare} s(c:CHAR)\ns 5\n{End}\nsub s\n{Return}\n", 62, 2},
        {"int64 literal for int",
         "{Declare} s(n:INT)\ns 2147483648\n{End}\nsub s\n{Return}\n", 14, 2},
        {"number for a string",
         "{Declare} s(t:STRING)\ns 5\n{End}\nsub s\n{Return}\n", 14, 2},
        {"number for an array",
         "{Declare} s(a[]:INT)\ns 5\n{End}\nsub s\n{Return}\n", 14, 2},
        {"int variable for an array",
         "{Declare} s(a[]:INT)\nx = 1\ns x\n{End}\nsub s\n{Return}\n", 14, 3},
        {"unbound array parameter has one element",
         "{Declare} s(a[]:INT)\ns\n{End}\nsub s\na[1] = 5\n{Return}\n", 7, 5},
        {"number for a file",
         "{Declare} s(f:FILE)\ns 0\n{End}\nsub s\n{Return}\n", 14, 2},
        {"runaway recursion through assignments",
         "{Declare} d(n:INT)\nd 1\n{End}\nsub d\nr = d(n + 1)\n{Return}\n", 34, 5},
        {"error inside a subroutine", "s\n{End}\nsub s\n{Goto} nowhere\n{Return}\n", 12, 4},
    };
    for (const ErrorCase& c : cases) {
        Outcome o = RunSource(c.source);
        EXPECT_EQ(o.code, c.code) << c.what;
        EXPECT_EQ(o.line, c.line) << c.what;
    }
}

TEST(FlowErrors, FailedCallLeavesNoFrameOrScopeBehind)
{
    // The binding fails; the interpreter must be left as before the call.
    std::string image, error;
    ASSERT_TRUE(SourceToImage("{Declare} s(n:INT, t:STRING)\n"
                              "s 1, 2\n"
                              "sub s\n{Return}\n",
                              image, error));
    char* copy = ProgramImage::CopyPlain(image.data(), image.size());
    QuietKestrin k;
    ProgramImage::RunInterpreter(k, copy);
    EXPECT_EQ(k.errorCode, 14);
    EXPECT_EQ(k.stackTop, 0u);
    EXPECT_TRUE(k.scopeStack.empty());
    EXPECT_EQ(k.CurrentScope(), k.MainChain());
    k.Cleanup();
    free(copy);
}
