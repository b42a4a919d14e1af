// Running a program in source notation on an in-process interpreter, and
// reading the error it stopped with, for the unit tests.
#pragma once
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include "interp/Kestrin.h"
#include "startup/ProgramImage.h"
#include "tools/kbind/SourceNotation.h"

namespace programrunner {

// An interpreter that shows no error box.
struct QuietKestrin : Kestrin {
    void ReportError() override {}
};

// A plain program image of the source, to be released with free(); a source
// that does not convert fails the test and gives what could be converted.
inline char* PlainImage(const std::string& source)
{
    std::string image, error;
    EXPECT_TRUE(SourceToImage(source, image, error)) << error;
    return ProgramImage::CopyPlain(image.data(), image.size());
}

// The source line the error text names; 0 without an error.
inline unsigned ErrorLine(Kestrin& k)
{
    if (!k.errorCode) return 0;
    std::string text = k.ErrorText();
    const char* at = strstr(text.c_str(), "Line number: ");
    return at ? (unsigned)atoi(at + 13) : 0;
}

}
