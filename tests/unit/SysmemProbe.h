// Access of the sysmem unit tests to helpers of the interpreter that programs
// reach only through commands.
#pragma once
#include <string>
#include "interp/Kestrin.h"

struct SysmemProbe {
    static int Delete(Kestrin& k, VarRec* r) { return k.DeleteRecord(r, nullptr); }
    static int PrinterText(Kestrin& k, StmtRec* s, std::string* out) { return k.BuildPrinterText(s, out); }
    static uint32_t NewBlock(Kestrin& k, size_t size) { return k.NewBlock(size, nullptr, 0); }
    static size_t BlockCount(Kestrin& k) { return k.sysmem.blocks.size(); }
    static uint32_t SoundBlock(Kestrin& k) { return k.sysmem.soundBlock; }
    static size_t PrinterCount(Kestrin& k) { return k.sysmem.printers.size(); }
};
