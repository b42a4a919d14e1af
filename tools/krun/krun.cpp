// Development runner: runs a program in source notation (or a plain image)
// on the interpreter, with the error report on standard error.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include "interp/Kestrin.h"
#include "startup/ProgramImage.h"
#include "tools/kbind/SourceNotation.h"

namespace {

class ConsoleKestrin : public Kestrin {
public:
    void ReportError() override
    {
        if (!errorCode) return;
        fflush(stdout);
        fprintf(stderr, "%s\n", ErrorText().c_str());
        fflush(stderr);
    }
};

int Usage()
{
    fprintf(stderr, "usage: krun PROGRAM.kbs\n       krun --raw IMAGE\n");
    return 1;
}

}

int main(int argc, char** argv)
{
    bool raw = argc == 3 && strcmp(argv[1], "--raw") == 0;
    if (argc != 2 && !raw) return Usage();
    const char* path = argv[argc - 1];
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "krun: cannot read %s\n", path);
        return 1;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string image = bytes.str();
    if (!raw) {
        std::string plain, error;
        int line = 0;
        if (!SourceToImage(image, plain, error, line)) {
            fprintf(stderr, "krun: %s:%d: %s\n", path, line, error.c_str());
            return 1;
        }
        image.swap(plain);
    }
    char* copy = ProgramImage::CopyPlain(image.data(), image.size());
    if (!copy) return 2;
    int code;
    {
        ConsoleKestrin* k = new ConsoleKestrin();
        ProgramImage::RunInterpreter(*k, copy);
        code = k->errorCode;
        delete k;
    }
    free(copy);
    fflush(stdout);
    return code;
}
