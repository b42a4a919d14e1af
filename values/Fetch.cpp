// Argument fetch: argument text -> value record, with the type check of the handler.
#include "interp/Kestrin.h"
#include "values/ValueText.h"
#include "values/ElementBytes.h"
#include <cstdlib>
#include <cstring>

using namespace kv;

namespace {

bool IsNumberType(int t)
{
    switch (t) {
    case T_CHAR: case T_INT: case T_FLOAT: case T_WORD: case T_DOUBLE:
    case T_INT64: case T_UINT64: case T_UINT:
        return true;
    default:
        return false;
    }
}

void SetFromDouble(ValueRec* v, double d)
{
    v->d = d;
    v->f = (float)d;
    v->i64 = TruncToInt64(d);
    v->i = (int32_t)(uint32_t)(uint64_t)v->i64;
}

void SetFromInt(ValueRec* v, int32_t i)
{
    v->i = i;
    v->i64 = i;
    v->f = (float)i;
    v->d = i;
}

}

ValueRec* Kestrin::FetchArgument(ValueRec* v, StmtRec* s, int index, int wanted)
{
    memset(v, 0, sizeof *v);
    if (index < 0 || index >= (int)s->argc || !s->args[index]) {
        errorCode = 56;
        return nullptr;
    }
    char* text = s->args[index];
    switch (s->kinds[index]) {
    case KIND_NUMBER: {
        const char* t = SkipBlanks(text);
        if (HasUnquoted(t, '.')) {
            SetFromDouble(v, strtod(t, nullptr));
            v->type = T_FLOAT;
        } else if (HasUnquoted(t, 'x')) {
            uint32_t u = (uint32_t)strtoul(t, nullptr, 0);
            SetFromInt(v, (int32_t)u);
            v->i64 = u;
            v->type = T_INT;
        } else {
            long long ll = strtoll(t, nullptr, 10);
            SetFromInt(v, (int32_t)(uint32_t)(unsigned long long)ll);
            v->i64 = ll;
            v->type = (ll >= INT32_MIN && ll <= INT32_MAX) ? T_INT : T_INT64;
        }
        if (wanted == WANT_WINDOW_OR_DIALOG || wanted == T_WINDOW) {
            v->type = T_WINDOW;
            v->handle = (uint32_t)v->i;
        }
        break;
    }
    case KIND_STRING: {
        char* first = strchr(text, '"');
        char* last = strrchr(text, '"');
        if (!first || last == first) {
            errorCode = 1;
            return nullptr;
        }
        *last = 0;
        v->text = first + 1;
        v->type = T_STRING;
        break;
    }
    case KIND_NAME: {
        VarRec* r = LookupVariable(text, nullptr, true);
        if (!r) {
            if (!errorCode) errorCode = 10;
            break;
        }
        v->var = r;
        v->elem = r->data;
        v->type = r->type;
        const char* e = r->data;
        size_t avail = BytesFromElement(r);
        int need = ElementSize(r->type);
        if (r->type == T_SYSTEM_0 && r->builtin && e) {   // DECIMAL_PREC: an int of the interpreter
            need = 4;
            avail = 4;
        }
        if (r->type == T_LABEL_0) {
            errorCode = 1;
            break;
        }
        if (r->type == T_STRING) {
            if (!e || avail == 0) {
                errorCode = 65;   // a string without storage
                break;
            }
            v->text = r->data;
            break;
        }
        if (!e || need == 0 || avail < (size_t)need) break;   // no storage: all views 0
        switch (r->type) {
        case T_CHAR:
            v->ch = (uint8_t)*e;
            v->i = v->ch;
            v->i64 = v->ch;
            break;
        case T_INT:
            SetFromInt(v, (int32_t)ReadU32(e));
            break;
        case T_FLOAT: {
            float f;
            memcpy(&f, e, 4);
            SetFromDouble(v, f);
            v->f = f;
            break;
        }
        case T_WORD: {
            uint16_t w;
            memcpy(&w, e, 2);
            SetFromInt(v, w);
            break;
        }
        case T_DOUBLE: {
            double d;
            memcpy(&d, e, 8);
            SetFromDouble(v, d);
            break;
        }
        case T_INT64:
        case T_UINT64: {
            int64_t q;
            memcpy(&q, e, 8);
            v->i64 = q;
            v->i = (int32_t)(uint32_t)(uint64_t)q;
            v->f = (float)v->i;
            v->d = (double)q;
            break;
        }
        case T_UINT: {
            uint32_t u = ReadU32(e);
            v->i = (int32_t)u;
            v->i64 = u;
            v->f = (float)u;
            v->d = u;
            break;
        }
        case T_MEMORY:
            v->handle = ReadU32(e);
            v->text = (char*)SlotToPtr(v->handle);
            if (wanted == T_STRING) v->type = T_STRING;
            break;
        default:
            v->handle = ReadU32(e);
            break;
        }
        break;
    }
    case KIND_EXPRESSION: {
        double d = Evaluate(text);
        if (errorCode) break;
        if (stringResult) {
            v->type = T_STRING;
            v->text = sysString ? StorageStart(sysString) : nullptr;
            if (!v->text) errorCode = 2;
            break;
        }
        SetFromDouble(v, d);
        v->type = T_DOUBLE;
        if (IsEventWindowToken(SkipBlanks(text))) {
            v->type = T_WINDOW;
            VarRec* r = FindEventWindow(nullptr, true);
            if (r && r->data) {
                v->handle = ReadU32(r->data);
                v->var = r;
                v->elem = r->data;
            } else {
                errorCode = 0;
                v->handle = (uint32_t)v->i;
            }
        }
        break;
    }
    default:
        errorCode = 1;
        break;
    }

    if (!errorCode) {
        int t = v->type;
        switch (wanted) {
        case WANT_ANY:
            break;
        case WANT_NUMBER:
            if (!IsNumberType(t)) errorCode = 19;
            break;
        case T_INT:
            if (t == T_UINT) errorCode = 14;
            else if (t != T_INT) errorCode = 20;
            break;
        case WANT_WINDOW_OR_DIALOG:
            if (t != T_WINDOW && t != T_DIALOG) errorCode = 14;
            break;
        default:
            if (t != wanted) errorCode = 14;
            break;
        }
    }
    return errorCode ? nullptr : v;
}
