#include "startup/ProgramImage.h"
#include "startup/ImageScramble.h"
#include "interp/Kestrin.h"
#include <windows.h>
#include <cstdlib>
#include <cstring>

namespace ProgramImage {

const char* const ResourceName = "A6F2D1FB";

char* CopyPlain(const char* data, size_t length)
{
    // The extra NUL bounds every scan of an image that lacks its own terminator.
    char* copy = (char*)malloc(length + 1);
    if (!copy) return nullptr;
    if (length) memcpy(copy, data, length);
    copy[length] = 0;
    return copy;
}

char* LoadFromOwnModule(size_t* length)
{
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC res = FindResourceA(self, ResourceName, MAKEINTRESOURCEA(10));
    if (!res) return nullptr;
    DWORD size = SizeofResource(self, res);
    HGLOBAL loaded = LoadResource(self, res);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return nullptr;
    char* copy = CopyPlain((const char*)bytes, size);
    if (!copy) return nullptr;
    ImageScramble::Descramble((unsigned char*)copy, size);
    if (length) *length = size;
    return copy;
}

std::string ProgramDirectory()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path);
    if (n == 0 || n >= sizeof path) return std::string();
    std::string dir(path, n);
    size_t slash = dir.find_last_of('\\');
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

int RunInterpreter(Kestrin& k, char* image)
{
    k.programImage = image;
    if (!k.Init()) return 0;
    k.programDirectory = ProgramDirectory();
    return k.Run();
}

}
