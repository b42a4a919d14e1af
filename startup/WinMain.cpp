// Entry point of the run-time: runs the program image bound into this executable.
#include <windows.h>
#include <ole2.h>
#include <cstdlib>
#include "interp/Kestrin.h"
#include "startup/ProgramImage.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    bool ole = OleInitialize(nullptr) == S_OK;
    char* image = ProgramImage::LoadFromOwnModule(nullptr);
    if (image) {
        Kestrin* k = new Kestrin();
        ProgramImage::RunInterpreter(*k, image);
        delete k;
        free(image);
    }
    if (ole) OleUninitialize();
    return 0;
}
