// The line parser: statement line -> statement record.
#include "interp/Kestrin.h"
#include "values/CharClass.h"
#include <cstring>

namespace {

const int CALL_LINE_SIZE = 255;   // rewritten implicit-call line, with its NUL

inline bool IsSpace(char c) { return IsSpaceChar(c); }
inline bool IsOperator(char c) { return IsOperatorChar(c); }

const char* FindOperator(const char* p)
{
    for (; *p; ++p)
        if (IsOperator(*p)) return p;
    return nullptr;
}

// Copies [from, to) into an argument buffer; false when it does not fit.
bool CopyArg(char* dest, const char* from, const char* to)
{
    size_t n = (size_t)(to - from);
    if (n >= (size_t)ARG_TEXT_SIZE) return false;
    memcpy(dest, from, n);
    dest[n] = 0;
    return true;
}

int AssignmentValueKind(const char* v)
{
    unsigned char c = (unsigned char)*v;
    if (c == 0xFE || c == '(') return KIND_EXPRESSION;
    if (c == '"') {
        const char* second = strchr(v + 1, '"');
        if (second) {
            const char* op = FindOperator(second + 1);
            if (op && *op == '+') return KIND_EXPRESSION;
        }
        return KIND_STRING;
    }
    if (IsLetter(c) || c == 0xFF) {
        if (strlen(v) <= 1) return KIND_NAME;
        const char* op = FindOperator(v);
        const char* ob = strchr(v, '[');
        const char* cb = strchr(v, ']');
        if (op && ob && cb && op > ob && op < cb) op = FindOperator(cb + 1);
        const char* q1 = strchr(v, '"');
        const char* q2 = q1 ? strchr(q1 + 1, '"') : nullptr;
        if (op && q1 && q2 && op > q1 && op < q2) op = FindOperator(q2 + 1);
        return op ? KIND_EXPRESSION : KIND_NAME;
    }
    if (IsDigit(c) || c == '-' || c == '.') return FindOperator(v) ? KIND_EXPRESSION : KIND_NUMBER;
    return FindOperator(v) ? KIND_EXPRESSION : KIND_NONE;
}

}

int Kestrin::ParseLine(StmtRec* s, char* line)
{
    s->resultType = NO_TYPE;
    s->fileOutput = 0;
    if ((unsigned char)line[0] == 0xFF) return ParseCommandLine(s, line);
    const char* eq = strchr(line, '=');
    if (!eq) return ParseImplicitCall(s, line);
    return ParseAssignment(s, line);
}

int Kestrin::ParseCommandLine(StmtRec* s, char* line)
{
    unsigned char hi = (unsigned char)line[1];
    unsigned char lo = hi ? (unsigned char)line[2] : 0;
    if (hi < 0xE0 || lo < 0xE0) {
        errorCode = 1;
        return 1;
    }
    s->command = (uint16_t)((hi - 0xE0) * 16 + (lo - 0xE0));
    char* t = line + 3;
    while (IsBlank(*t)) ++t;
    s->text = t;
    s->argc = 0;
    if (*t == 0) return 0;

    // Enclosing parentheses around the whole argument list become blanks.
    if (*t == '(' && s->command != 6 && s->command != 42) {
        bool comma = false, inq = false;
        for (const char* p = t; *p; ++p) {
            if (*p == '"') inq = !inq;
            else if (*p == ',' && !inq) { comma = true; break; }
        }
        if (comma) {
            char* last = t + strlen(t) - 1;
            while (last > t && IsSpace(*last)) --last;
            if (*last == ')') {
                int depth = 0;
                for (const char* p = t; *p && *p != ','; ++p) {
                    if (*p == '(') ++depth;
                    else if (*p == ')') --depth;
                }
                if (depth != 0) {
                    *t = ' ';
                    *last = ' ';
                    while (IsBlank(*t)) ++t;
                    s->text = t;
                }
            }
        }
    }

    bool inq = false;
    int brackets = 0, parens = 0, arg = 0, len = 0;
    int kind = KIND_NONE;
    for (const char* p = t;; ++p) {
        unsigned char c = (unsigned char)*p;
        if (len >= ARG_TEXT_SIZE) {
            errorCode = 1;   // argument text longer than its buffer
            return 1;
        }
        char* out = s->args[arg];
        out[len++] = (char)c;
        if (!inq && brackets == 0 && c == '(') {
            kind = KIND_EXPRESSION;
            ++parens;
        } else if (kind == KIND_NONE && !inq && c == 0xFE) {
            kind = KIND_EXPRESSION;
        } else if (kind == KIND_NONE && !inq && (IsLetter(c) || c == 0xFF)) {
            kind = KIND_NAME;
        } else if (kind == KIND_NONE && !inq && (IsDigit(c) || c == '.')) {
            kind = KIND_NUMBER;
        } else if (c == 0) {
            s->kinds[arg++] = kind;
            break;
        } else if (c == '"') {
            if (!inq && kind == KIND_NONE) kind = KIND_STRING;
            inq = !inq;
        } else if (c == '#') {
            if (!inq && brackets == 0 && kind == KIND_NONE) kind = KIND_NAME;
        } else if (c == '(' || c == ')') {
            if (!inq) parens += c == '(' ? 1 : -1;
        } else if (c == '[' || c == ']') {
            if (!inq) brackets += c == '[' ? 1 : -1;
        } else if (c == ',' && !inq && brackets == 0 && parens == 0) {
            out[len - 1] = 0;
            s->kinds[arg++] = kind;
            if (arg == MAX_ARGS) break;
            len = 0;
            kind = KIND_NONE;
        } else if (charclass::Has((char)c, charclass::ARG_OPERATOR) && !inq && brackets == 0) {
            kind = KIND_EXPRESSION;
        }
    }
    s->argc = (uint16_t)arg;
    if (parens != 0) {
        errorCode = 18;
        return 1;
    }
    return 0;
}

int Kestrin::ParseAssignment(StmtRec* s, char* line)
{
    char* eq = strchr(line, '=');
    s->command = 20;
    s->text = line;
    s->argc = 2;

    const char* v = eq + 1;
    while (IsBlank(*v)) ++v;
    const char* ve = v + strlen(v);
    while (ve > v && IsBlank(ve[-1])) --ve;

    const char* n = line;
    while (IsBlank(*n)) ++n;
    const char* ne = eq;
    while (ne > n && IsSpace(ne[-1])) --ne;

    if (!CopyArg(s->args[0], n, ne) || !CopyArg(s->args[1], v, ve)) {
        errorCode = 1;
        return 1;
    }
    s->kinds[0] = KIND_NAME;
    s->kinds[1] = AssignmentValueKind(s->args[1]);
    return 0;
}

int Kestrin::ParseImplicitCall(StmtRec* s, char* line)
{
    if (!initialised) {
        errorCode = 1;
        return 1;
    }
    char* nameEnd = line;
    while (*nameEnd && !strchr(" =(\"\t", *nameEnd)) ++nameEnd;

    char saved = *nameEnd;
    *nameEnd = 0;
    VarRec* label = LookupVariable(line, nullptr, false);
    *nameEnd = saved;
    if (!label || label->type != T_LABEL_0) {
        errorCode = 1;
        return 1;
    }
    errorCode = 0;

    const char* after = nameEnd;
    while (IsSpace(*after)) ++after;
    bool bare = *after == 0;
    if (*after == '(') {
        const char* q = after + 1;
        while (IsSpace(*q)) ++q;
        bare = *q == ')';
    }

    // The rewritten line lives behind the argument buffers of the record, so
    // the record's text stays valid while the handler runs.
    char* buf = s->block + MAX_ARGS * ARG_TEXT_SIZE + 1;
    size_t lineLen = bare ? (size_t)(nameEnd - line) : strlen(line);
    if (lineLen + 3 >= (size_t)CALL_LINE_SIZE) {
        errorCode = 1;
        return 1;
    }
    buf[0] = (char)0xFF;
    buf[1] = (char)(label->external ? 0xE7 : 0xE2);
    buf[2] = (char)(label->external ? 0xE8 : 0xEC);
    memcpy(buf + 3, line, lineLen);
    buf[3 + lineLen] = 0;
    if (!bare) {
        buf[3 + (nameEnd - line)] = ',';
        char* last = buf + 3 + lineLen - 1;
        while (last > buf + 3 && IsSpace(*last)) --last;
        if (*last == ')' && saved == '(') *last = ' ';
    }
    return ParseCommandLine(s, buf);
}
