// The type tables: element sizes, names and text formats by type code.
#include "interp/Kestrin.h"

namespace {

const int ElementSizes[T_TYPE_COUNT] = {
    1, 1, 4, 4, 0, 4, 4, 0, 0, 4, 4, 4, 1, 2, 8, 4, 4, 8, 8, 4,
};

const char* const TypeNames[T_TYPE_COUNT] = {
    "STRING", "CHAR", "INT", "FLOAT", "ARRAY_0", "MEMORY", "FILE", "SYSTEM_0", "LABEL_0", "WINDOW",
    "DIALOG", "BFILE", "ISTRING", "WORD", "DOUBLE", "USER_0", "POINTER", "INT64", "UINT64", "UINT",
};

const char* const TypeFormats[T_TYPE_COUNT] = {
    "%s", "%c", "%d ", "%.2f ", "%%", "%p ", "%%", "", "", "%p ",
    "%p ", "%p ", "%s", "%d", "%.2f", "%p ", "%p ", "%I64d ", "%I64u ", "%u ",
};

inline unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + 32) : c; }

}

int Kestrin::ElementSize(int type)
{
    return (type >= 0 && type < T_TYPE_COUNT) ? ElementSizes[type] : 0;
}

const char* Kestrin::TypeName(int type)
{
    return (type >= 0 && type < T_TYPE_COUNT) ? TypeNames[type] : "";
}

const char* Kestrin::TypeFormat(int type)
{
    return (type >= 0 && type < T_TYPE_COUNT) ? TypeFormats[type] : "";
}

// The name ends at NUL, a blank or a tab; the first table entry that matches wins.
int Kestrin::TypeCodeByName(const char* name)
{
    if (!name) return -1;
    for (int t = 0; t < T_TYPE_COUNT; ++t) {
        const char* a = TypeNames[t];
        const char* b = name;
        while (*a && Lower((unsigned char)*b) == Lower((unsigned char)*a)) {
            ++a;
            ++b;
        }
        if (*a == 0 && (*b == 0 || *b == ' ' || *b == '\t')) return t;
    }
    return -1;
}
