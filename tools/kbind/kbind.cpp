// kbind: writes a program image into a copy of the run-time, or lists it.
#include "tools/kbind/PeResource.h"
#include "tools/kbind/SourceNotation.h"
#include "startup/ImageScramble.h"

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

namespace {

const char kResourceName[] = "A6F2D1FB";

const char kUsage[] =
    "usage:\n"
    "  kbind PROGRAM.kbs OUTPUT.exe [RUNTIME.exe]        bind a program in source notation\n"
    "  kbind --raw IMAGE OUTPUT.exe [RUNTIME.exe]        bind a file that is the plain image\n"
    "  kbind --list APP.exe                              print the bound program in source notation\n"
    "\n"
    "RUNTIME defaults to kestrin.exe in the directory of kbind.exe.\n"
    "\n"
    "Source notation: every line becomes one image line ended by CR LF, and the image\n"
    "ends with a NUL byte. In a line:\n"
    "  {Name}  command token of the command whose handler is CmdName (prefix optional)\n"
    "  {n}     command token of command n (0 to 511)\n"
    "  {#n}    constant token of constant table entry n (0 to 497)\n"
    "  {xHH}   the byte with hexadecimal value HH\n"
    "  {{      a literal {\n"
    "  {$}     at the end of the last line: the image ends there, without CR LF and NUL\n"
    "          (--list writes it for images that do not end with CR LF NUL)\n"
    "--list output is exact: binding it again gives the same image byte for byte.\n";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "kbind: %s\n", message.c_str());
    return 1;
}

std::string LastErrorText()
{
    DWORD code = GetLastError();
    char buf[256] = {0};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                             sizeof buf, nullptr);
    while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ')) buf[--n] = 0;
    return std::string("error ") + std::to_string(code) + (n > 0 ? std::string(": ") + buf : std::string());
}

bool ReadWholeFile(const std::string& path, std::string& data)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    data.clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& data)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

std::string DirectoryOf(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string DefaultRuntime()
{
    char buf[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "kestrin.exe";
    return DirectoryOf(buf) + "kestrin.exe";
}

// Removes the temporary file unless released.
struct TempFile {
    std::string path;
    bool keep = false;
    ~TempFile()
    {
        if (!path.empty() && !keep) DeleteFileA(path.c_str());
    }
};

int Bind(const std::string& programPath, const std::string& outputPath, const std::string& runtimePath, bool raw)
{
    std::string program;
    if (!ReadWholeFile(programPath, program)) return Fail("cannot read program file " + programPath);
    std::string image;
    if (raw) {
        image = program;
    } else {
        std::string error;
        int line = 0;
        if (!SourceToImage(program, image, error, line))
            return Fail(programPath + ":" + std::to_string(line) + ": " + error);
    }

    if (image.empty()) return Fail("the program image is empty");

    std::string runtime;
    if (!ReadWholeFile(runtimePath, runtime)) return Fail("cannot read run-time " + runtimePath);
    std::string error;
    if (!CheckPeExecutable(runtime, error)) return Fail(runtimePath + ": " + error);
    std::vector<PeResourceItem> old;
    if (!FindPeResource(runtime, 10, kResourceName, old, error)) return Fail(runtimePath + ": " + error);

    std::string scrambled = image;
    if (!scrambled.empty())
        ImageScramble::Scramble(reinterpret_cast<unsigned char*>(&scrambled[0]), scrambled.size());

    std::string dir = DirectoryOf(outputPath);
    char tempName[MAX_PATH + 1] = {0};
    if (GetTempFileNameA(dir.empty() ? "." : dir.c_str(), "kbd", 0, tempName) == 0)
        return Fail("cannot create a temporary file next to " + outputPath + " (" + LastErrorText() + ")");
    TempFile temp;
    temp.path = tempName;
    if (!WriteWholeFile(temp.path, runtime)) return Fail("cannot write " + temp.path);

    HANDLE h = BeginUpdateResourceA(temp.path.c_str(), FALSE);
    if (h == nullptr) return Fail("cannot update resources of " + temp.path + " (" + LastErrorText() + ")");
    bool ok = true;
    const WORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    for (const PeResourceItem& item : old)  // a bound run-time keeps only the new image
        if (item.language != neutral &&
            !UpdateResourceA(h, RT_RCDATA, kResourceName, static_cast<WORD>(item.language), nullptr, 0))
            ok = false;
    if (ok && !UpdateResourceA(h, RT_RCDATA, kResourceName, neutral,
                               scrambled.empty() ? nullptr : &scrambled[0], static_cast<DWORD>(scrambled.size())))
        ok = false;
    if (!ok) {
        std::string why = LastErrorText();
        EndUpdateResourceA(h, TRUE);
        return Fail("cannot store the program image (" + why + ")");
    }
    if (!EndUpdateResourceA(h, FALSE)) return Fail("cannot write resources of " + temp.path + " (" + LastErrorText() + ")");

    // Verify that the file holds exactly the scrambled image.
    std::string written;
    std::vector<PeResourceItem> items;
    if (!ReadWholeFile(temp.path, written) || !FindPeResource(written, 10, kResourceName, items, error) ||
        items.size() != 1 || written.compare(items[0].offset, items[0].size, scrambled) != 0 ||
        items[0].size != scrambled.size())
        return Fail("the written executable does not hold the program image");

    if (!MoveFileExA(temp.path.c_str(), outputPath.c_str(), MOVEFILE_REPLACE_EXISTING))
        return Fail("cannot write " + outputPath + " (" + LastErrorText() + ")");
    temp.keep = true;
    return 0;
}

int List(const std::string& appPath)
{
    std::string app;
    if (!ReadWholeFile(appPath, app)) return Fail("cannot read " + appPath);
    std::string error;
    std::vector<PeResourceItem> items;
    if (!FindPeResource(app, 10, kResourceName, items, error)) return Fail(appPath + ": " + error);
    if (items.empty()) return Fail(appPath + ": no program image resource");
    const PeResourceItem* chosen = &items[0];
    for (const PeResourceItem& item : items)
        if (item.language == MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)) chosen = &item;
    std::string image = app.substr(chosen->offset, chosen->size);
    if (!image.empty()) ImageScramble::Descramble(reinterpret_cast<unsigned char*>(&image[0]), image.size());
    std::string text = ImageToSource(image);
    _setmode(_fileno(stdout), _O_BINARY);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        return Fail("cannot write the listing");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "/?") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args[0] == "--list") {
        if (args.size() != 2) return Fail("--list takes one executable (run kbind without arguments for help)");
        return List(args[1]);
    }
    bool raw = false;
    if (args[0] == "--raw") {
        raw = true;
        args.erase(args.begin());
    }
    if (!args.empty() && args[0].size() > 1 && args[0][0] == '-')
        return Fail("unknown option " + args[0] + " (run kbind without arguments for help)");
    if (args.size() < 2 || args.size() > 3)
        return Fail("expected PROGRAM OUTPUT.exe [RUNTIME.exe] (run kbind without arguments for help)");
    return Bind(args[0], args[1], args.size() == 3 ? args[2] : DefaultRuntime(), raw);
}
