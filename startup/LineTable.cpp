// Splitting the program image into the line table.
#include "interp/Kestrin.h"
#include "values/CharClass.h"
#include <cstdlib>

namespace {

// True when a physical line (start .. end, end excluding any CR of a CR LF end)
// is a statement line. Both passes use this one test, so they always agree.
bool IsStatementLine(const char* start, const char* end)
{
    while (start < end && IsBlank(*start)) ++start;
    if (start >= end) return false;
    return *start != ';' && *start != '\'';
}

// End of the physical line starting at p: the LF or the terminating NUL.
char* LineEnd(char* p)
{
    while (*p && *p != '\n') ++p;
    return p;
}

}

int Kestrin::CountLines()
{
    char* image = programImage;
    if (!image) return 0;

    uint32_t count = 0;
    for (char* p = image;;) {
        char* lf = LineEnd(p);
        char* end = (*lf == '\n' && lf > p && lf[-1] == '\r') ? lf - 1 : lf;
        if (IsStatementLine(p, end)) ++count;
        if (*lf == 0) break;
        p = lf + 1;
    }
    if (count == 0) return 0;

    lineTable = (char**)calloc(count, sizeof(char*));
    lineNumbers = (uint16_t*)calloc(count, sizeof(uint16_t));
    if (!lineTable || !lineNumbers) {
        free(lineTable);
        free(lineNumbers);
        lineTable = nullptr;
        lineNumbers = nullptr;
        errorCode = 2;
        return 0;
    }

    uint32_t stored = 0;
    unsigned counter = 1;
    bool crlf = false;
    for (char* p = image;;) {
        char* lf = LineEnd(p);
        bool last = *lf == 0;
        char* end = lf;
        if (!last) {
            if (lf > p && lf[-1] == '\r') {
                end = lf - 1;
                crlf = true;
            } else {
                crlf = false;
            }
            *end = 0;
        }
        if (IsStatementLine(p, end) && stored < count) {
            char* first = p;
            while (IsBlank(*first)) ++first;
            lineTable[stored] = first;
            lineNumbers[stored] = (uint16_t)(counter - 1);
            ++stored;
            if (crlf) ++counter;
        } else {
            // Blank and comment lines always advance the source line number.
            const char* q = p;
            while (q < end && IsBlank(*q)) ++q;
            if (q < end || crlf) ++counter;
        }
        if (last) break;
        p = lf + 1;
    }
    lineCount = stored;
    return 1;
}
