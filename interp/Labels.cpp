// The label pre-pass and the label command.
#include "interp/Kestrin.h"
#include "values/CharClass.h"
#include <cstring>

namespace {

const int LABEL_NAME_MAX = 37;   // name characters kept for a "name:" line

// Length of the label name at p: up to the first blank, tab or "(".
size_t NameLength(const char* p)
{
    size_t n = 0;
    while (p[n] && !IsBlank(p[n]) && p[n] != '(') ++n;
    return n;
}

}

int Kestrin::RegisterLabels()
{
    StmtRec* s = NewStatementRecord(MAX_ARGS);
    if (!s) {
        errorCode = 2;
        return 0;
    }
    currentLine = 0;
    int ok = 1;
    for (uint32_t i = 0; i < lineCount && ok; ++i) {
        currentLine = i;
        char* line = lineTable[i];
        while (IsBlank(*line)) ++line;

        int command = -1;
        char* namePart;
        char* wordEnd = line;
        bool plain = (unsigned char)line[0] != 0xFF;
        if (!plain) {
            if (!line[1] || !line[2]) continue;
            command = ((unsigned char)line[1] - 0xE0) * 16 + ((unsigned char)line[2] - 0xE0);
            namePart = line + 3;
        } else {
            while (*wordEnd && !IsBlank(*wordEnd) && *wordEnd != '(') ++wordEnd;
            namePart = wordEnd;
            if (!*namePart) {
                char* colon = strchr(line, ':');
                if (!colon) continue;
                namePart = colon + 1;
            }
        }

        // The word before the name part decides the form. A "name:" label is a
        // first word that ends with its only colon, so that lines such as
        // 'a:b' or 's="x:y"' are not taken for labels.
        char cut = *namePart;
        *namePart = 0;
        bool word = plain && (_stricmp(line, "label") == 0 || _stricmp(line, "sub") == 0);
        bool colonForm = plain && !word && namePart > line && namePart[-1] == ':' &&
                         namePart == wordEnd && !strpbrk(line, "=\"");
        *namePart = cut;
        if (command != 23 && command != 56 && !word && !colonForm) continue;

        char name[VAR_NAME_SIZE + LABEL_NAME_MAX];
        if (colonForm) {
            // "name:" - the name is the word without its colon; the line becomes empty.
            size_t n = (size_t)(namePart - 1 - line);
            if (n > (size_t)LABEL_NAME_MAX) n = LABEL_NAME_MAX;
            memcpy(name, line, n);
            name[n] = 0;
            line[0] = 0;
        } else {
            const char* p = namePart;
            while (IsBlank(*p)) ++p;
            size_t n = NameLength(p);
            if (n > (size_t)LABEL_NAME_MAX) n = LABEL_NAME_MAX;
            memcpy(name, p, n);
            name[n] = 0;
            // A "label name" / "sub name" line does nothing when the run reaches it.
            if (word) line[0] = 0;
        }
        name[NameLength(name)] = 0;

        s->text = name;
        s->argc = 1;
        if (!CmdLabel(s)) ok = 0;
    }
    FreeStatementRecord(s);
    return ok;
}

StmtRec* Kestrin::CmdLabel(StmtRec* s)
{
    if (s->argc != 1 || !s->text) {
        errorCode = 1;
        return nullptr;
    }
    char name[ARG_TEXT_SIZE];
    const char* p = s->text;
    while (IsBlank(*p)) ++p;
    size_t n = NameLength(p);
    if (n == 0 || n >= sizeof name) {
        errorCode = 1;
        return nullptr;
    }
    memcpy(name, p, n);
    name[n] = 0;

    VarRec* found = LookupVariable(name, nullptr, false);
    if (found) {
        if (found->type == T_LABEL_0) return s;   // the first definition wins
        errorCode = 1;
        return nullptr;
    }
    if (errorCode != 0 && errorCode != 10) return nullptr;
    errorCode = 0;
    VarRec* label = CreateVariable(name, T_LABEL_0, 0, nullptr);
    if (!label) {
        if (!errorCode) errorCode = 2;
        return nullptr;
    }
    label->capacity = (int)currentLine;
    return s;
}
