// Block statements: counted and conditional loops, conditionals, selection, waiting.
// A block command finds its partner by scanning the line table from the current
// line; loops and selections that come back keep a two-slot frame on the stack.
#include "interp/Kestrin.h"
#include "values/CharClass.h"
#include <cstdlib>
#include <cstring>

namespace {

const uint32_t NO_LINE = 0xFFFFFFFFu;

// Command numbers the scans look for.
const int CMD_WHILE = 4, CMD_END_WHILE = 5, CMD_IF = 6, CMD_END_IF = 7;
const int CMD_SELECT = 41, CMD_CASE = 42, CMD_END_SELECT = 43, CMD_DEFAULT = 52;
const int CMD_ELSE = 55, CMD_DO = 78, CMD_UNTIL = 79, CMD_PUMP = 12;

// THEN and ELSE tokens inside a conditional line.
const unsigned char THEN_TOKEN[3] = {0xFF, 0xE0 + 218 / 16, 0xE0 + 218 % 16};
const unsigned char ELSE_TOKEN[3] = {0xFF, 0xE0 + 55 / 16, 0xE0 + 55 % 16};

const char* FindToken(const char* text, const unsigned char* token)
{
    for (const char* p = text; p[0] && p[1] && p[2]; ++p)
        if ((unsigned char)p[0] == token[0] && (unsigned char)p[1] == token[1] &&
            (unsigned char)p[2] == token[2])
            return p;
    return nullptr;
}

}

// ---- scanning -----------------------------------------------------------------------

int Kestrin::LineCommand(uint32_t line) const
{
    if (line >= lineCount || !lineTable) return -1;
    const unsigned char* p = (const unsigned char*)lineTable[line];
    if (p[0] != 0xFF || p[1] < 0xE0 || p[2] < 0xE0) return -1;
    return ((p[1] - 0xE0) * 16 + (p[2] - 0xE0)) % 256;
}

bool Kestrin::LineHasThen(uint32_t line) const
{
    return FindToken(lineTable[line] + 3, THEN_TOKEN) != nullptr;
}

// The line after `from` that closes the block opened at `from`; NO_LINE if none.
uint32_t Kestrin::MatchForward(uint32_t from, int open, int close) const
{
    int depth = 1;
    for (uint32_t l = from + 1; l < lineCount; ++l) {
        int c = LineCommand(l);
        if (c == open) ++depth;
        else if (c == close && --depth == 0) return l;
    }
    return NO_LINE;
}

// The line before `from` that opens the block closed at `from`; NO_LINE if none.
uint32_t Kestrin::MatchBackward(uint32_t from, int open, int close) const
{
    int depth = 1;
    for (uint32_t l = from; l-- > 0;) {
        int c = LineCommand(l);
        if (c == open) ++depth;
        else if (c == close && --depth == 0) return l;
    }
    return NO_LINE;
}

bool Kestrin::PushFrame(uint32_t value, uint32_t marker)
{
    if (!PushStack(value)) {
        errorCode = 34;
        return false;
    }
    if (!PushStack(marker)) {
        PopStack();
        errorCode = 34;
        return false;
    }
    return true;
}

bool Kestrin::PopFrame(uint32_t marker, uint32_t* value)
{
    uint32_t m = PopStack();
    *value = PopStack();   // a wrong marker still takes both slots
    return m == marker;
}

// ---- counted loop -------------------------------------------------------------------

StmtRec* Kestrin::CmdFor(StmtRec* s)
{
    if (s->argc < 3) {
        errorCode = 56;
        return nullptr;
    }
    char name[ARG_TEXT_SIZE];
    const char* from = s->args[0];
    while (IsBlank(*from)) ++from;
    size_t n = strlen(from);
    while (n && IsBlank(from[n - 1])) --n;
    memcpy(name, from, n);
    name[n] = 0;

    VarRec* v = LookupVariable(name, nullptr, false);
    if (!v) {
        // Only a plain name is made on the spot; an element or member must exist.
        if (errorCode != 10 || !name[0] || strpbrk(name, "[.#")) {
            if (!errorCode) errorCode = 10;
            return nullptr;
        }
        errorCode = 0;
        v = CreateVariable(name, T_INT, 1, nullptr);
        if (!v) {
            if (!errorCode) errorCode = 2;
            return nullptr;
        }
    }
    if ((v->type != T_INT && v->type != T_UINT) || !v->data) {
        errorCode = 20;
        return nullptr;
    }
    char* elem = v->data;

    ValueRec val;
    if (!FetchArgument(&val, s, 1, WANT_NUMBER)) return nullptr;
    memcpy(elem, &val.i, 4);
    v->capacity = (int)currentLine;
    if (!FetchArgument(&val, s, 2, WANT_NUMBER)) return nullptr;
    v->elemLen = val.i;
    v->packing = 1;
    if (s->argc >= 4) {
        if (!FetchArgument(&val, s, 3, WANT_NUMBER)) return nullptr;
        v->packing = val.i;
    }
    return s;
}

StmtRec* Kestrin::CmdNext(StmtRec* s)
{
    if (s->argc == 0) {
        errorCode = 1;
        return nullptr;
    }
    VarRec* v = LookupVariable(s->args[0], nullptr, false);
    if (!v) {
        if (!errorCode) errorCode = 10;
        return nullptr;
    }
    // Only INT and UINT variables carry a loop; on others the members mean other things.
    if ((v->type != T_INT && v->type != T_UINT) || !v->data || v->packing == 0) {
        errorCode = 14;
        return nullptr;
    }
    int32_t value;
    memcpy(&value, v->data, 4);
    value = (int32_t)((uint32_t)value + (uint32_t)v->packing);
    memcpy(v->data, &value, 4);
    bool done = v->packing > 0 ? value > v->elemLen : value < v->elemLen;
    if (done) {
        v->packing = 0;
        v->elemLen = 0;
        v->capacity = 0;
    } else {
        currentLine = (uint32_t)v->capacity;
    }
    return s;
}

// ---- pre-tested and post-tested loops -----------------------------------------------

StmtRec* Kestrin::CmdWhile(StmtRec* s)
{
    uint32_t end = MatchForward(currentLine, CMD_WHILE, CMD_END_WHILE);
    if (end == NO_LINE) {
        errorCode = 39;
        return nullptr;
    }
    if (s->argc == 0) {
        errorCode = 1;
        return nullptr;
    }
    double c = Evaluate(s->args[0]);
    if (errorCode) return nullptr;
    if (c != 0.0) {
        if (!PushFrame(currentLine - 1, WHILE_MARKER)) return nullptr;
    } else {
        currentLine = end;
    }
    return s;
}

StmtRec* Kestrin::CmdEndWhile(StmtRec* s)
{
    uint32_t line;
    if (!PopFrame(WHILE_MARKER, &line)) {
        errorCode = 40;
        return nullptr;
    }
    currentLine = line;
    return s;
}

StmtRec* Kestrin::CmdDo(StmtRec* s)
{
    if (MatchForward(currentLine, CMD_DO, CMD_UNTIL) == NO_LINE) {
        errorCode = 50;
        return nullptr;
    }
    if (s->argc != 0) {
        errorCode = 1;
        return nullptr;
    }
    if (!PushFrame(currentLine - 1, DO_MARKER)) return nullptr;
    return s;
}

StmtRec* Kestrin::CmdUntil(StmtRec* s)
{
    int32_t condition = 1;
    bool fetchFailed = false;
    if (s->argc != 0) {
        ValueRec v;
        if (FetchArgument(&v, s, 0, WANT_NUMBER)) condition = v.i;
        else fetchFailed = true;
    }
    uint32_t line;
    if (!PopFrame(DO_MARKER, &line)) {
        if (!errorCode) errorCode = 49;
        return nullptr;
    }
    if (fetchFailed) return nullptr;
    if (condition == 0) currentLine = line;
    return s;
}

// ---- conditionals -------------------------------------------------------------------

StmtRec* Kestrin::CmdIf(StmtRec* s)
{
    if (s->argc == 0 || !s->text) {
        errorCode = 1;
        return nullptr;
    }
    const char* thenAt = FindToken(s->text, THEN_TOKEN);
    if (!thenAt) {
        // Block form: a false condition continues at the matching else or end.
        double c = Evaluate(s->args[0]);
        if (errorCode) return nullptr;
        if (c != 0.0) return s;
        int depth = 1;
        for (uint32_t l = currentLine + 1; l < lineCount; ++l) {
            int cmd = LineCommand(l);
            if (cmd == CMD_IF) {
                if (!LineHasThen(l)) ++depth;
            } else if (cmd == CMD_END_IF) {
                if (--depth == 0) {
                    currentLine = l;
                    return s;
                }
            } else if (cmd == CMD_ELSE && depth == 1) {
                currentLine = l;
                return s;
            }
        }
        errorCode = 17;
        return nullptr;
    }

    // Single-line form: the condition is the text before THEN.
    size_t thenOffset = (size_t)(thenAt - s->text);
    const char* elseAt = FindToken(thenAt + 3, ELSE_TOKEN);
    size_t elseOffset = elseAt ? (size_t)(elseAt - s->text) : 0;
    char* cond = s->args[0];
    size_t condLen = strlen(cond);
    char saved = 0;
    if (thenOffset < condLen) {
        saved = cond[thenOffset];
        cond[thenOffset] = 0;
    }
    double c = Evaluate(cond);
    if (thenOffset < condLen) cond[thenOffset] = saved;
    if (errorCode) return nullptr;

    size_t textLen = strlen(s->text);
    char* copy = (char*)malloc(textLen + 1);
    if (!copy) {
        errorCode = 2;
        return nullptr;
    }
    memcpy(copy, s->text, textLen + 1);
    char* stmt = nullptr;
    if (c != 0.0) {
        stmt = copy + thenOffset + 3;
        if (elseAt) copy[elseOffset] = 0;
    } else if (elseAt) {
        stmt = copy + elseOffset + 3;
    }
    StmtRec* result = s;
    if (stmt) {
        while (IsSpaceChar(*stmt)) ++stmt;
        if (ParseLine(s, stmt) != 0) {
            result = nullptr;
        } else {
            errorCode = 0;
            result = Execute(s);
        }
        s->text = s->args[0];   // the copy goes away; keep the text at live storage
    }
    free(copy);
    return result;
}

StmtRec* Kestrin::CmdElse(StmtRec* s)
{
    int depth = 1;
    for (uint32_t l = currentLine + 1; l < lineCount; ++l) {
        int cmd = LineCommand(l);
        if (cmd == CMD_END_IF) {
            if (--depth == 0) {
                currentLine = l;
                return s;
            }
        } else if (cmd == CMD_IF && !LineHasThen(l)) {
            ++depth;
        }
    }
    errorCode = 43;
    return nullptr;
}

// ---- selection ----------------------------------------------------------------------

StmtRec* Kestrin::CmdSelect(StmtRec* s)
{
    uint32_t end = MatchForward(currentLine, CMD_SELECT, CMD_END_SELECT);
    if (end == NO_LINE) {
        errorCode = 36;
        return nullptr;
    }
    if (s->argc == 0) {
        errorCode = 1;
        return nullptr;
    }
    if (!PushFrame(end, SELECT_MARKER)) return nullptr;

    // The selector text is kept aside: evaluating a case may run commands.
    size_t selLen = strlen(s->args[0]);
    char* work = nullptr;
    size_t workSize = 0;
    double match = 0.0;
    int depth = 0;
    uint32_t defaultLine = NO_LINE;
    StmtRec* result = s;
    bool moved = false;
    char selector[ARG_TEXT_SIZE];
    memcpy(selector, s->args[0], selLen + 1);

    for (uint32_t l = currentLine + 1; l < end; ++l) {
        int cmd = LineCommand(l);
        if (cmd == CMD_SELECT && match == 0.0) {
            ++depth;
        } else if (cmd == CMD_END_SELECT) {
            --depth;
        } else if ((cmd == CMD_CASE || cmd == CMD_DEFAULT) && depth == 0) {
            // Case and default lines before the body of a match share that body.
            if (match != 0.0) continue;
            if (cmd == CMD_DEFAULT) {
                defaultLine = l;
                continue;
            }
            const char* caseText = lineTable[l] + 3;
            size_t need = selLen + 1 + strlen(caseText) + 1;
            if (need > workSize) {
                char* grown = (char*)realloc(work, need);
                if (!grown) {
                    errorCode = 2;
                    result = nullptr;
                    break;
                }
                work = grown;
                workSize = need;
            }
            memcpy(work, selector, selLen);
            work[selLen] = '=';
            strcpy(work + selLen + 1, caseText);
            match = Evaluate(work);
            if (errorCode) {
                result = nullptr;
                break;
            }
        } else if (match != 0.0 && depth == 0) {
            currentLine = l - 1;
            moved = true;
            break;
        }
    }
    free(work);
    if (result && !moved && match == 0.0 && defaultLine != NO_LINE) currentLine = defaultLine;
    return result;
}

StmtRec* Kestrin::CmdCase(StmtRec* s)
{
    uint32_t end;
    if (!PopFrame(SELECT_MARKER, &end)) {
        errorCode = 37;
        return nullptr;
    }
    currentLine = end;
    return s;
}

StmtRec* Kestrin::CmdDefault(StmtRec* s)
{
    return CmdCase(s);
}

StmtRec* Kestrin::CmdEndSelect(StmtRec* s)
{
    uint32_t end;
    if (!PopFrame(SELECT_MARKER, &end)) {
        errorCode = 38;
        return nullptr;
    }
    return s;
}

// ---- waiting ------------------------------------------------------------------------

StmtRec* Kestrin::CmdWaitUntil(StmtRec* s)
{
    if (s->argc != 1) {
        errorCode = 1;
        return nullptr;
    }
    s->argc = 0;   // the pump waits for events
    char condition[ARG_TEXT_SIZE];
    strcpy(condition, s->args[0]);
    uint16_t command = s->command;
    for (;;) {
        double c = Evaluate(condition);
        if (errorCode) return nullptr;
        if (c != 0.0) return s;
        // Without an event pump nothing can ever change the condition.
        if (commandTable[CMD_PUMP] == &Kestrin::CmdNoOp) return s;
        s->command = CMD_PUMP;
        StmtRec* pumped = Execute(s);
        s->command = command;
        if (!pumped) return s;
    }
}
