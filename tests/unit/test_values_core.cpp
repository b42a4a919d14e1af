// Type tables, variable creation and lookup, release, argument fetch and assignment.
#include <gtest/gtest.h>
#include <windows.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "interp/Kestrin.h"
#include "startup/ProgramImage.h"
#include "tools/kbind/SourceNotation.h"
#include "tests/unit/ProgramRunner.h"

namespace {

using programrunner::QuietKestrin;

struct ValuesTest : ::testing::Test {
    QuietKestrin k;
    char* image = nullptr;
    char line[1024];

    void SetUp() override { ASSERT_EQ(k.Init(), 1); }
    void TearDown() override
    {
        k.Cleanup();
        free(image);
    }

    // One statement line in source notation, parsed and run in the main record.
    // Returns the error code it left.
    int Exec(const std::string& src)
    {
        std::string img, err;
        EXPECT_TRUE(SourceToImage(src, img, err)) << err;
        size_t end = img.find('\r');
        std::string text = img.substr(0, end);
        snprintf(line, sizeof line, "%s", text.c_str());
        k.errorCode = 0;
        if (k.ParseLine(k.mainStmt, line) != 0) return k.errorCode;
        k.errorCode = 0;
        k.Execute(k.mainStmt);
        return k.errorCode;
    }

    // A whole program; the variables stay for inspection until TearDown.
    int RunProgram(const std::string& src)
    {
        std::string img, err;
        EXPECT_TRUE(SourceToImage(src, img, err)) << err;
        image = ProgramImage::CopyPlain(img.data(), img.size());
        k.programImage = image;
        k.Run();
        return k.errorCode;
    }

    VarRec* Find(const char* name)
    {
        char buf[256];
        snprintf(buf, sizeof buf, "%s", name);
        k.errorCode = 0;
        return k.LookupVariable(buf, nullptr, false);
    }

    VarRec* Make(const char* name, int type, VarRec* chain = nullptr)
    {
        char buf[256];
        snprintf(buf, sizeof buf, "%s", name);
        k.errorCode = 0;
        return k.CreateVariable(buf, type, 1, chain);
    }

    // A statement record holding the arguments of a command line (after the token).
    StmtRec* Args(const std::string& argText)
    {
        StmtRec* s = k.NewStatementRecord(MAX_ARGS);
        std::string src = "{Print} " + argText;
        std::string img, err;
        EXPECT_TRUE(SourceToImage(src, img, err)) << err;
        snprintf(line, sizeof line, "%s", img.substr(0, img.find('\r')).c_str());
        EXPECT_EQ(k.ParseLine(s, line), 0);
        return s;
    }
};

template <class T> T Get(const VarRec* v)
{
    T x;
    memcpy(&x, v->data, sizeof x);
    return x;
}
template <class T> void Put(VarRec* v, T x) { memcpy(v->data, &x, sizeof x); }

}

TEST(ValuesTypes, TablesAndCaseInsensitiveNames)
{
    EXPECT_EQ(Kestrin::TypeCodeByName("int"), 2);
    EXPECT_EQ(Kestrin::TypeCodeByName("Int"), 2);
    EXPECT_EQ(Kestrin::TypeCodeByName("INT"), 2);
    EXPECT_EQ(Kestrin::TypeCodeByName("ISTRING"), 12);
    EXPECT_EQ(Kestrin::TypeCodeByName("uint64"), 18);
    EXPECT_EQ(Kestrin::TypeCodeByName("UINT"), 19);
    EXPECT_EQ(Kestrin::TypeCodeByName("INTX"), -1);
    EXPECT_EQ(Kestrin::TypeCodeByName("IN"), -1);
    EXPECT_EQ(Kestrin::TypeCodeByName(""), -1);
    const int sizes[] = {1, 1, 4, 4, 0, 4, 4, 0, 0, 4, 4, 4, 1, 2, 8, 4, 4, 8, 8, 4};
    for (int t = 0; t < T_TYPE_COUNT; ++t) {
        EXPECT_EQ(Kestrin::ElementSize(t), sizes[t]) << t;
        EXPECT_EQ(Kestrin::TypeCodeByName(Kestrin::TypeName(t)), t);
    }
    EXPECT_STREQ(Kestrin::TypeFormat(T_INT), "%d ");
    EXPECT_STREQ(Kestrin::TypeFormat(T_WORD), "%d");
    EXPECT_STREQ(Kestrin::TypeFormat(T_FLOAT), "%.2f ");
    EXPECT_STREQ(Kestrin::TypeFormat(T_DOUBLE), "%.2f");
    EXPECT_STREQ(Kestrin::TypeFormat(T_INT64), "%I64d ");
    EXPECT_STREQ(Kestrin::TypeFormat(T_SYSTEM_0), "");
    EXPECT_EQ(Kestrin::ElementSize(99), 0);
    EXPECT_STREQ(Kestrin::TypeName(-1), "");
}

TEST_F(ValuesTest, StringShapes)
{
    VarRec* s = Make("s", T_STRING);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->count, 255u);
    EXPECT_EQ(s->capacity, 255);
    EXPECT_EQ(s->elemLen, 1);
    EXPECT_EQ(s->dims[0], 255);
    EXPECT_TRUE(s->indexed);
    EXPECT_EQ(s->base, s->data);

    VarRec* sa = Make("sa[3]", T_STRING);
    ASSERT_TRUE(sa);
    EXPECT_EQ(sa->count, 765u);
    EXPECT_EQ(sa->elemLen, 255);
    EXPECT_EQ(sa->capacity, 255);
    EXPECT_EQ(sa->dims[0], 3);

    VarRec* t = Make("t[10]", T_ISTRING);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->type, T_STRING);
    EXPECT_EQ(t->count, 11u);
    EXPECT_EQ(t->capacity, 11);
    EXPECT_EQ(t->elemLen, 1);

    EXPECT_EQ(k.sysString->count, 65536u);
    EXPECT_EQ(k.sysString->capacity, 65536);
    EXPECT_STREQ(k.sysString->name, "SYSTEM_STRING0");
}

TEST_F(ValuesTest, CreationErrorsLeaveTheChainAlone)
{
    ASSERT_TRUE(Make("count", T_INT));
    VarRec* last = k.lastGlobal;
    struct Case {
        const char* name;
        int type;
        int error;
    } cases[] = {
        {"COUNT", T_INT, 9}, {"Count[3]", T_FLOAT, 9}, {"b[0]", T_INT, 45},  {"b[2,0]", T_INT, 45},
        {"b[-2]", T_INT, 45}, {"b[3", T_INT, 1},       {"t", T_ISTRING, 44}, {"h[99999999,99999]", T_INT, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Make(c.name, c.type), nullptr) << c.name;
        EXPECT_EQ(k.errorCode, c.error) << c.name;
        EXPECT_EQ(k.lastGlobal, last) << c.name;
        EXPECT_EQ(last->next, nullptr) << c.name;
    }
    EXPECT_EQ(Find("b"), nullptr);
    EXPECT_EQ(k.errorCode, 10);
}

TEST_F(ValuesTest, NamesAreCutToThirtyCharacters)
{
    VarRec* v = Make("abcdefghijklmnopqrstuvwxyz0123456789", T_INT);
    ASSERT_TRUE(v);
    EXPECT_STREQ(v->name, "abcdefghijklmnopqrstuvwxyz0123");
    EXPECT_EQ(Find("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123zzz"), v);
    EXPECT_EQ(Make("abcdefghijklmnopqrstuvwxyz0123-other", T_INT), nullptr);
    EXPECT_EQ(k.errorCode, 9);
}

TEST_F(ValuesTest, IndexSelectsElementsFirstIndexFastest)
{
    VarRec* a = Make("a[3,4,2]", T_INT);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->count, 24u);
    VarRec* i = Make("i", T_INT);
    ASSERT_TRUE(Make("f", T_FLOAT));
    struct Case {
        const char* text;
        long element;   // -1: error
        int error;
    } cases[] = {
        {"a[2,1,1]", 17, 0}, {"a[2]", 2, 0},     {"a[0,3]", 9, 0},      {"a [1]", 1, 0},
        {"a[2, 3, 1]", 23, 0}, {"a[i]", 2, 0},   {"a[3]", -1, 7},       {"a[0,4]", -1, 7},
        {"a[0,0,2]", -1, 7}, {"a[0,0,0,9]", 0, 0}, {"a[f]", -1, 14},     {"a[q]", -1, 10},
        {"a[1", -1, 1},      {"a[0x10]", -1, 7}, {"a[010]", -1, 7},  {"a[02]", 2, 0},
    };
    Put<int32_t>(i, 2);
    for (const Case& c : cases) {
        VarRec* r = Find(c.text);
        if (c.element < 0) {
            EXPECT_EQ(r, nullptr) << c.text;
            EXPECT_EQ(k.errorCode, c.error) << c.text;
        } else {
            ASSERT_EQ(r, a) << c.text;
            EXPECT_EQ(r->data, a->base + 4 * c.element) << c.text;
        }
    }
    // A negative index never reaches outside the block.
    Put<int32_t>(i, -1);
    EXPECT_EQ(Find("a[i]"), nullptr);
    EXPECT_EQ(k.errorCode, 7);
    // A plain lookup moves the element back to the start.
    ASSERT_TRUE(Find("a[2,1,1]"));
    EXPECT_EQ(Find("a"), a);
    EXPECT_EQ(a->data, a->base);
}

TEST_F(ValuesTest, IndexedStringsAndTheirCapacity)
{
    VarRec* s = Make("s", T_STRING);
    ASSERT_EQ(Find("s[4]"), s);
    EXPECT_EQ(s->data, s->base + 4);
    EXPECT_EQ(s->capacity, 1);
    ASSERT_EQ(Find("s"), s);
    EXPECT_EQ(s->capacity, 255);
    EXPECT_EQ(s->data, s->base);
    ASSERT_EQ(Find("s[4,0]"), s);
    EXPECT_EQ(s->capacity, 251);
    EXPECT_EQ(Find("s[255]"), nullptr);
    EXPECT_EQ(k.errorCode, 7);
    EXPECT_EQ(Find("s[0,1]"), nullptr);   // past the end of the string's storage
    EXPECT_EQ(k.errorCode, 7);

    VarRec* sa = Make("sa[3]", T_STRING);
    ASSERT_EQ(Find("sa[2]"), sa);
    EXPECT_EQ(sa->data, sa->base + 510);
    EXPECT_EQ(sa->capacity, 255);
    EXPECT_EQ(Find("sa[3]"), nullptr);

    VarRec* t = Make("t[5]", T_ISTRING);
    ASSERT_EQ(Find("t[5]"), t);   // the terminator's byte
    EXPECT_EQ(t->capacity, 1);
    EXPECT_EQ(Find("t[6]"), nullptr);
    ASSERT_EQ(Find("t"), t);
    EXPECT_EQ(t->capacity, 6);
}

TEST_F(ValuesTest, LookupSeesLocalsThenTheMainChainOnly)
{
    VarRec* g = Make("g", T_INT);
    VarRec* shadowed = Make("both", T_INT);
    VarRec* mainFirst = k.CurrentScope();
    // First call: the caller's chain is the main chain.
    k.scopeStack.push_back(k.CurrentScope());
    k.SetCurrentScope(nullptr);
    VarRec* callerLocal = Make("callerlocal", T_INT);
    ASSERT_TRUE(callerLocal);
    EXPECT_EQ(k.MainChain(), mainFirst);
    // Nested call.
    k.scopeStack.push_back(k.CurrentScope());
    k.SetCurrentScope(nullptr);
    VarRec* local = Make("both", T_INT);
    ASSERT_TRUE(local);
    EXPECT_NE(local, shadowed);
    EXPECT_EQ(Find("both"), local);
    EXPECT_EQ(Find("g"), g);
    EXPECT_EQ(Find("callerlocal"), nullptr);
    EXPECT_EQ(k.errorCode, 10);
    EXPECT_EQ(Find("SYSTEM_INT0"), k.sysInt);
    // Return twice, releasing each call's variables.
    k.FreeChain(k.CurrentScope(), true);
    k.SetCurrentScope(k.scopeStack.back());
    k.scopeStack.pop_back();
    EXPECT_EQ(Find("callerlocal"), callerLocal);
    k.FreeChain(k.CurrentScope(), true);
    k.SetCurrentScope(k.scopeStack.back());
    k.scopeStack.pop_back();
    EXPECT_EQ(Find("both"), shadowed);
    EXPECT_EQ(Find("callerlocal"), nullptr);
    EXPECT_EQ(k.decimalPrecRec.next, mainFirst);
    EXPECT_EQ(mainFirst->prev, &k.decimalPrecRec);
}

TEST_F(ValuesTest, EventWindowSearchAndDereference)
{
    VarRec* w1 = Make("w1", T_WINDOW);
    VarRec* w = Make("w[3]", T_WINDOW);
    Put<uint32_t>(w1, 0x1111);
    memcpy(w->base + 8, "\x34\x12\x00\x00", 4);
    k.constants[CONST_EVENT_WINDOW] = 0x1234;
    ASSERT_EQ(Find("\xFE\xE4\xE8"), w);
    EXPECT_EQ(w->data, w->base + 8);
    k.constants[CONST_EVENT_WINDOW] = 0x9999;
    EXPECT_EQ(Find("\xFE\xE4\xE8"), nullptr);
    EXPECT_EQ(k.errorCode, 10);

    VarRec* x = Make("x[4]", T_INT);
    VarRec* p = Make("p", T_POINTER);
    p->target = x;
    ASSERT_EQ(Find("#p[3]"), x);
    EXPECT_EQ(x->data, x->base + 12);
    VarRec* q = Make("q", T_POINTER);
    EXPECT_EQ(Find("#q"), nullptr);
    (void)q;
}

TEST_F(ValuesTest, ReleaseClosesOnlyStreamsItMade)
{
    char path[MAX_PATH];
    snprintf(path, sizeof path, "values_release_%lu.txt", (unsigned long)GetCurrentProcessId());
    FILE* fp = fopen(path, "w");
    ASSERT_TRUE(fp);
    fputs("flushed", fp);
    uint32_t slot = k.OpenStreamSlot(fp);
    ASSERT_NE(slot, 0u);
    EXPECT_EQ(k.KnownStream(slot)->fp, fp);

    VarRec head;
    memset(&head, 0, sizeof head);
    head.builtin = 1;   // a private chain head on the stack
    VarRec* f = Make("f", T_FILE, &head);
    VarRec* g = Make("g", T_BFILE, &head);
    VarRec* junk = Make("junk[2]", T_FILE, &head);
    VarRec* win = Make("win", T_WINDOW, &head);
    VarRec* dlg = Make("dlg", T_DIALOG, &head);
    Put<uint32_t>(f, slot);
    Put<uint32_t>(g, slot);   // two variables share one stream: closed once
    memcpy(junk->base, "\x78\x56\x34\x12\x01\x00\x00\x00", 8);
    Put<uint32_t>(win, 0x12345678);
    Put<uint32_t>(dlg, 1);
    k.FreeChain(head.next, false);
    EXPECT_EQ(head.next, nullptr);
    EXPECT_TRUE(k.streamList.empty());
    EXPECT_EQ(k.KnownStream(slot), nullptr);

    FILE* in = fopen(path, "r");
    ASSERT_TRUE(in);
    char buf[32] = {};
    ASSERT_TRUE(fgets(buf, sizeof buf, in));
    fclose(in);
    remove(path);
    EXPECT_STREQ(buf, "flushed");

    // Unknown slots are ignored.
    k.CloseStreamSlot(0x12345678);
    k.CloseStreamSlot(0);
}

TEST_F(ValuesTest, FetchLiteralsAndTheirViews)
{
    StmtRec* s = Args("2147483648, 2147483647, 0x10, 1.5, 0, \"ab,c\", \"open, 9.99");
    ValueRec v;
    ASSERT_TRUE(k.FetchArgument(&v, s, 0, WANT_ANY));
    EXPECT_EQ(v.type, T_INT64);
    EXPECT_EQ(v.i64, 2147483648LL);
    ASSERT_TRUE(k.FetchArgument(&v, s, 1, WANT_ANY));
    EXPECT_EQ(v.type, T_INT);
    EXPECT_EQ(v.i, 2147483647);
    EXPECT_DOUBLE_EQ(v.d, 2147483647.0);
    ASSERT_TRUE(k.FetchArgument(&v, s, 2, T_INT));
    EXPECT_EQ(v.i, 16);
    ASSERT_TRUE(k.FetchArgument(&v, s, 3, WANT_NUMBER));
    EXPECT_EQ(v.type, T_FLOAT);
    EXPECT_DOUBLE_EQ(v.d, 1.5);
    EXPECT_EQ(v.i, 1);
    ASSERT_TRUE(k.FetchArgument(&v, s, 4, WANT_WINDOW_OR_DIALOG));
    EXPECT_EQ(v.type, T_WINDOW);
    EXPECT_EQ(v.handle, 0u);
    ASSERT_TRUE(k.FetchArgument(&v, s, 5, T_STRING));
    EXPECT_STREQ(v.text, "ab,c");
    EXPECT_EQ(k.FetchArgument(&v, s, 6, T_STRING), nullptr);
    EXPECT_EQ(k.errorCode, 1);
    k.errorCode = 0;
    EXPECT_EQ(k.FetchArgument(&v, s, 7, WANT_ANY), nullptr);
    EXPECT_EQ(k.errorCode, 56);
    k.errorCode = 0;
    EXPECT_EQ(k.FetchArgument(&v, s, 3, T_DOUBLE), nullptr);   // FLOAT is not DOUBLE
    EXPECT_EQ(k.errorCode, 14);
    k.FreeStatementRecord(s);
}

TEST_F(ValuesTest, FetchVariablesAndTypeChecks)
{
    Put<float>(Make("f", T_FLOAT), -2.7f);
    Put<uint32_t>(Make("u", T_UINT), 4000000000u);
    Put<uint16_t>(Make("w", T_WORD), 65535);
    Put<int64_t>(Make("big", T_INT64), -5);
    Put<uint8_t>(Make("c", T_CHAR), 'j');
    Put<double>(Make("d", T_DOUBLE), 2.5);
    Put<uint32_t>(Make("m", T_MEMORY), 0x1000);
    Make("lbl", T_LABEL_0);
    strcpy(Make("s", T_STRING)->data, "text");
    StmtRec* a = Args("f, u, w, big, c, d, m, lbl, nosuch, s, DECIMAL_PREC");
    ValueRec v;
    ASSERT_TRUE(k.FetchArgument(&v, a, 0, WANT_NUMBER));
    EXPECT_EQ(v.i, -2);
    EXPECT_EQ(v.i64, -2);
    EXPECT_FLOAT_EQ(v.f, -2.7f);
    ASSERT_TRUE(k.FetchArgument(&v, a, 1, WANT_NUMBER));
    EXPECT_EQ((uint32_t)v.i, 4000000000u);
    EXPECT_EQ(v.i64, 4000000000LL);
    EXPECT_DOUBLE_EQ(v.d, 4000000000.0);
    ASSERT_TRUE(k.FetchArgument(&v, a, 2, WANT_NUMBER));
    EXPECT_EQ(v.i, 65535);
    ASSERT_TRUE(k.FetchArgument(&v, a, 3, WANT_NUMBER));
    EXPECT_EQ(v.i64, -5);
    EXPECT_DOUBLE_EQ(v.d, -5.0);
    ASSERT_TRUE(k.FetchArgument(&v, a, 4, WANT_NUMBER));
    EXPECT_EQ(v.ch, 'j');
    EXPECT_EQ(v.i, 'j');
    EXPECT_EQ(v.d, 0.0);
    ASSERT_TRUE(k.FetchArgument(&v, a, 5, T_DOUBLE));
    EXPECT_EQ(v.i, 2);
    EXPECT_FLOAT_EQ(v.f, 2.5f);
    ASSERT_TRUE(k.FetchArgument(&v, a, 6, T_STRING));   // a memory block read as text
    EXPECT_EQ(v.type, T_STRING);
    EXPECT_EQ(v.handle, 0x1000u);
    ASSERT_TRUE(k.FetchArgument(&v, a, 9, T_STRING));
    EXPECT_STREQ(v.text, "text");
    ASSERT_TRUE(k.FetchArgument(&v, a, 10, WANT_ANY));
    EXPECT_EQ(v.type, T_SYSTEM_0);
    EXPECT_EQ(v.handle, 2u);

    struct Refusal {
        int index, wanted, error;
    } refusals[] = {
        {1, T_INT, 14},  {0, T_INT, 20},   {9, WANT_NUMBER, 19}, {7, WANT_ANY, 1},  {8, WANT_ANY, 10},
        {2, T_INT, 20},  {6, T_MEMORY, 0}, {0, WANT_WINDOW_OR_DIALOG, 14},           {3, T_UINT64, 14},
    };
    for (const Refusal& r : refusals) {
        k.errorCode = 0;
        ValueRec* got = k.FetchArgument(&v, a, r.index, r.wanted);
        EXPECT_EQ(k.errorCode, r.error) << r.index << " " << r.wanted;
        EXPECT_EQ(got == nullptr, r.error != 0) << r.index;
    }
    k.FreeStatementRecord(a);
}

TEST_F(ValuesTest, AssignmentConversionsBetweenVariables)
{
    struct Case {
        int target;
        int source;
        double value;    // source value (integer sources take its bits via int64)
        double expect;   // target read back as a number
        int error;
    } cases[] = {
        {T_INT, T_CHAR, 65, 65, 0},
        {T_INT, T_WORD, 65535, 65535, 0},
        {T_INT, T_FLOAT, -2.7, -2, 0},
        {T_INT, T_DOUBLE, 3e9, -1294967296.0, 0},
        {T_INT, T_UINT, 4000000000.0, -294967296.0, 0},
        {T_INT, T_INT64, 5, 0, 11},
        {T_CHAR, T_INT, 0x141, 0x41, 0},
        {T_CHAR, T_DOUBLE, 66.9, 66, 0},
        {T_CHAR, T_UINT, 0x1FF, 0xFF, 0},
        {T_FLOAT, T_UINT, 4000000000.0, 4000000000.0, 0},
        {T_FLOAT, T_INT, -7, -7, 0},
        {T_FLOAT, T_INT64, 1, 0, 11},
        {T_WORD, T_INT, 0x12345, 0x2345, 0},
        {T_WORD, T_DOUBLE, 70000.5, 4464, 0},
        {T_WORD, T_UINT, 1, 0, 11},
        {T_DOUBLE, T_UINT64, -1, -1, 0},
        {T_DOUBLE, T_INT64, -5, -5, 0},
        {T_DOUBLE, T_UINT, 4000000000.0, 4000000000.0, 0},
        {T_DOUBLE, T_FLOAT, 0.5, 0.5, 0},
        {T_INT64, T_INT, -1, -1, 0},
        {T_INT64, T_UINT, 4294967295.0, 4294967295.0, 0},
        {T_INT64, T_DOUBLE, -3.9, -3, 0},
        {T_INT64, T_UINT64, -2, -2, 0},
        {T_UINT64, T_INT64, -2, -2, 0},
        {T_UINT64, T_WORD, 9, 9, 0},
        {T_UINT, T_INT, -1, 4294967295.0, 0},
        {T_UINT, T_WORD, 7, 7, 0},
        {T_UINT, T_FLOAT, 3.5, 3, 0},
        {T_UINT, T_INT64, 1, 0, 11},
        {T_UINT, T_WINDOW, 0x999, 0, 0},   // no window object: handle 0
        {T_INT, T_DIALOG, 0x999, 0, 0},
        {T_STRING, T_INT, 1, 0, 11},
        {T_WINDOW, T_INT, 1, 0, 11},
        {T_WINDOW, T_WINDOW, 1, 0, 11},
        {T_DOUBLE, T_STRING, 0, 0, 11},
        {T_CHAR, T_INT64, 1, 0, 11},
        {T_FILE, T_FILE, 77, 77, 0},
        {T_MEMORY, T_MEMORY, 0x4000, 0x4000, 0},
        {T_MEMORY, T_INT, 1, 0, 11},
        {T_INT, T_INT, -9, -9, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        char tn[16], sn[16];
        snprintf(tn, sizeof tn, "t%d", n);
        snprintf(sn, sizeof sn, "s%d", n);
        ++n;
        VarRec* t = Make(tn, c.target);
        VarRec* s = Make(sn, c.source);
        ASSERT_TRUE(t && s);
        int64_t bits = (int64_t)c.value;
        switch (c.source) {
        case T_FLOAT: Put<float>(s, (float)c.value); break;
        case T_DOUBLE: Put<double>(s, c.value); break;
        case T_STRING: strcpy(s->data, "12"); break;
        default: memcpy(s->data, &bits, (size_t)Kestrin::ElementSize(c.source)); break;
        }
        int err = Exec(std::string(tn) + " = " + sn);
        EXPECT_EQ(err, c.error) << tn << " <- " << Kestrin::TypeName(c.source);
        if (err) continue;
        double got = 0;
        switch (c.target) {
        case T_CHAR: got = Get<uint8_t>(t); break;
        case T_INT: got = Get<int32_t>(t); break;
        case T_UINT: case T_FILE: case T_MEMORY: got = Get<uint32_t>(t); break;
        case T_WORD: got = Get<uint16_t>(t); break;
        case T_FLOAT: got = Get<float>(t); break;
        case T_DOUBLE: got = Get<double>(t); break;
        case T_INT64: case T_UINT64: got = (double)Get<int64_t>(t); break;
        }
        EXPECT_DOUBLE_EQ(got, c.expect) << Kestrin::TypeName(c.target) << " <- " << Kestrin::TypeName(c.source);
    }
}

TEST_F(ValuesTest, AssignmentOfLiterals)
{
    struct Case {
        int type;
        const char* value;
        uint64_t bits;   // the target's bytes, zero-extended
        int error;
    } cases[] = {
        {T_INT, "010", 8, 0},
        {T_INT, "0x10", 16, 0},
        {T_INT, "0xFFFFFFFF", 0xFFFFFFFF, 0},
        {T_CHAR, "0x141", 0x41, 0},
        {T_CHAR, "\"xyz\"", 'x', 0},
        {T_WORD, "70000", 4464, 0},
        {T_UINT, "4294967295", 0xFFFFFFFF, 0},
        {T_INT64, "9000000000", 9000000000ULL, 0},
        {T_UINT64, "18446744073709551615", ~0ULL, 0},
        {T_UINT64, "0xFFFFFFFFFFFFFFFF", ~0ULL, 0},
        {T_INT64, "0x7FFFFFFFFFFFFFFF", 0x7FFFFFFFFFFFFFFFULL, 0},
        {T_MEMORY, "4096", 4096, 0},
        {T_STRING, "5", 0, 11},
        {T_USER_0, "5", 0, 11},
        {T_INT, "\"5\"", 0, 11},
        {T_STRING, "\"open", 0, 1},
        {T_INT, "#p", 0, 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        char tn[16];
        snprintf(tn, sizeof tn, "lit%d", n++);
        VarRec* t = Make(tn, c.type);
        ASSERT_TRUE(t);
        EXPECT_EQ(Exec(std::string(tn) + " = " + c.value), c.error) << c.value;
        if (c.error) continue;
        uint64_t bits = 0;
        memcpy(&bits, t->data, (size_t)Kestrin::ElementSize(c.type));
        EXPECT_EQ(bits, c.bits) << c.value;
    }
    VarRec* f = Make("fl", T_FLOAT);
    VarRec* d = Make("db", T_DOUBLE);
    EXPECT_EQ(Exec("fl = 1.5"), 0);
    EXPECT_EQ(Exec("db = 2.25"), 0);
    EXPECT_FLOAT_EQ(Get<float>(f), 1.5f);
    EXPECT_DOUBLE_EQ(Get<double>(d), 2.25);
    EXPECT_EQ(Exec("DECIMAL_PREC = 5"), 0);
    EXPECT_EQ(k.decimalPrec, 5);
}

TEST_F(ValuesTest, StringAssignmentKeepsWithinTheTarget)
{
    VarRec* s = Make("s", T_STRING);
    memset(k.sysString->data, 'x', 300);
    k.sysString->data[300] = 0;
    ASSERT_EQ(Exec("s = SYSTEM_STRING0"), 0);
    EXPECT_EQ(strlen(s->data), 254u);

    ASSERT_EQ(Exec("s = \"hello\""), 0);
    Put<uint8_t>(Make("c", T_CHAR), 'j');
    ASSERT_EQ(Exec("s = c"), 0);
    EXPECT_STREQ(s->data, "jello");
    // A single character of a string: room for the terminator only.
    ASSERT_EQ(Exec("s[2] = \"zz\""), 0);
    EXPECT_STREQ(s->base, "je");
    ASSERT_EQ(Exec("s = \"hello\""), 0);
    ASSERT_EQ(Exec("s[1] = c"), 0);
    EXPECT_STREQ(s->base, "hjllo");
    ASSERT_EQ(Exec("s[2,0] = s"), 0);   // overlapping copy into the tail
    EXPECT_STREQ(s->base, "hjhjllo");

    VarRec* t = Make("t[3]", T_ISTRING);
    ASSERT_EQ(Exec("t = \"abcdef\""), 0);
    EXPECT_STREQ(t->data, "abc");

    VarRec* sa = Make("sa[2]", T_STRING);
    ASSERT_EQ(Exec("sa[1] = \"second\""), 0);
    ASSERT_EQ(Exec("sa[0] = sa[1]"), 0);   // the source lookup must not move the target
    EXPECT_STREQ(sa->base, "second");
    EXPECT_STREQ(sa->base + 255, "second");
}

TEST_F(ValuesTest, SeveralValuesFillConsecutiveElements)
{
    VarRec* a = Make("a[3]", T_INT);
    EXPECT_EQ(Exec("{Assign} a, 1, 2, 3"), 0);
    EXPECT_EQ(memcmp(a->base, "\1\0\0\0\2\0\0\0\3\0\0\0", 12), 0);
    EXPECT_EQ(Exec("{Assign} a, 7, 8, 9, 10"), 65);
    EXPECT_EQ(memcmp(a->base, "\7\0\0\0\10\0\0\0\11\0\0\0", 12), 0);
    EXPECT_EQ(Exec("{Assign} a[1], 5, 6"), 0);
    EXPECT_EQ(memcmp(a->base + 4, "\5\0\0\0\6\0\0\0", 8), 0);
    Make("one", T_INT);
    EXPECT_EQ(Exec("{Assign} one, 1, 2"), 1);
    VarRec* sa = Make("sa[2]", T_STRING);
    EXPECT_EQ(Exec("{Assign} sa, \"p\", \"q\""), 0);
    EXPECT_STREQ(sa->base + 255, "q");
    EXPECT_EQ(Exec("{Assign} one"), 56);
}

TEST_F(ValuesTest, AutoDeclareChoosesTheTypeFromTheValue)
{
    strcpy(Make("q$", T_STRING)->data, "hi");
    struct Case {
        const char* line;
        const char* name;
        int type;   // -1: not created
        int error;
    } cases[] = {
        {"x = 5", "x", T_INT, 0},        {"y = 5.0", "y", T_FLOAT, 0},   {"s$ = q$", "s$", T_STRING, 0},
        {"z = q$", "z", T_INT, 11},      {"u = \"t\"", "u", T_STRING, 0}, {"a[2] = 1", "a", -1, 10},
        {"m.x = 1", "m", -1, 10},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Exec(c.line), c.error) << c.line;
        VarRec* v = Find(c.name);
        if (c.type < 0) {
            EXPECT_EQ(v, nullptr) << c.line;
        } else {
            ASSERT_TRUE(v) << c.line;
            EXPECT_EQ(v->type, c.type) << c.line;
        }
    }
    EXPECT_STREQ(Find("s$")->data, "hi");
    k.autoDeclare = 0;
    EXPECT_EQ(Exec("w = 1"), 10);
    EXPECT_EQ(Find("w"), nullptr);
}

TEST_F(ValuesTest, DefineAndConst)
{
    EXPECT_EQ(Exec("{Define} a, b[10], c:INT"), 0);
    for (const char* n : {"a", "b", "c"}) {
        VarRec* v = Find(n);
        ASSERT_TRUE(v) << n;
        EXPECT_EQ(v->type, T_INT);
    }
    EXPECT_EQ(Find("b")->count, 10u);
    EXPECT_EQ(Exec("{Define} d:INT, e"), 1);
    EXPECT_EQ(Find("d"), nullptr);
    EXPECT_EQ(Exec("{Define}"), 1);
    EXPECT_EQ(Exec("{Define} g:NOSUCH"), 55);
    EXPECT_EQ(Exec("{Define} t[20]:istring"), 0);
    EXPECT_EQ(Find("t")->count, 21u);
    EXPECT_EQ(Exec("{Define} t2[20]:int, name: string"), 0);   // only the last type counts
    EXPECT_EQ(Find("t2")->type, T_STRING);
    EXPECT_EQ(Find("t2")->count, 20u * 255u);
    EXPECT_EQ(Find("name")->count, 255u);
    EXPECT_EQ(Exec("{Define} A:FLOAT"), 9);

    EXPECT_EQ(Exec("{Const} k=3, kk = 4"), 0);
    VarRec* kv = Find("k");
    ASSERT_TRUE(kv);
    EXPECT_EQ(Get<int32_t>(kv), 3);
    EXPECT_TRUE(kv->constant);
    EXPECT_EQ(Get<int32_t>(Find("kk")), 4);
    EXPECT_EQ(Exec("{Const} k=4"), 58);
    EXPECT_EQ(Exec("k = 5"), 58);
    EXPECT_EQ(Get<int32_t>(kv), 3);
    EXPECT_EQ(Exec("{Const} m"), 1);
    EXPECT_EQ(Exec("{Const}"), 56);
}

TEST_F(ValuesTest, UserTypesInstancesAndStructureOperations)
{
    ASSERT_EQ(RunProgram("{Type} pt\n"
                         "{Define} x:INT\n"
                         "{Define} s:STRING\n"
                         "{75}\n"
                         "{Type} outer, 4\n"
                         "{Define} n:WORD\n"
                         "{Define} in:PT\n"
                         "{Define} arr[2]:pt\n"
                         "ENDTYPE\n"
                         "{Define} p[3]:pt\n"
                         "{Define} o, o2:outer\n"
                         "p[1].x = 7\n"
                         "p[2].s = \"two\"\n"
                         "o.in.x = 9\n"
                         "o.arr[1].s = \"deep\"\n"
                         "o2 = o\n"
                         "{Define} q:pt\n"
                         "q = p[1]\n"),
              0);
    EXPECT_EQ(Get<int32_t>(Find("q.x")), 7);
    VarRec* p = Find("p");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->type, T_USER_0);
    EXPECT_EQ(p->packing, 8);
    VarRec* h[3];
    for (int i = 0; i < 3; ++i) {
        uint32_t slot;
        memcpy(&slot, p->base + 4 * i, 4);
        h[i] = (VarRec*)SlotToPtr(slot);
        ASSERT_TRUE(h[i]);
        EXPECT_EQ(k.StructSize(h[i]), 259);
    }
    EXPECT_NE(h[0], h[1]);
    EXPECT_EQ(Get<int32_t>(Find("p[1].x")), 7);
    EXPECT_EQ(Get<int32_t>(Find("p[0].x")), 0);
    EXPECT_STREQ(Find("p[2].s")->data, "two");
    EXPECT_EQ(Find("p[1].nosuch"), nullptr);
    EXPECT_EQ(k.errorCode, 10);

    VarRec* o2 = Find("o2");
    ASSERT_TRUE(o2);
    EXPECT_EQ(o2->packing, 4);
    EXPECT_EQ(Get<int32_t>(Find("o2.in.x")), 9);
    EXPECT_STREQ(Find("o2.arr[1].s")->data, "deep");
    uint32_t slot;
    memcpy(&slot, o2->data, 4);
    VarRec* oh = (VarRec*)SlotToPtr(slot);
    EXPECT_EQ(k.StructSize(oh), 2 + 259 * 3);

    // Flat copies out and back, and through a file.
    std::string flat(k.StructSize(oh), '\0');
    EXPECT_EQ(k.StructFlatten(&flat[0], oh), &flat[0] + flat.size());
    EXPECT_EQ(memcmp(&flat[2], "\x09\0\0\0", 4), 0);
    EXPECT_EQ(flat.substr(2 + 259 * 2 + 4, 4), std::string("deep"));
    ASSERT_EQ(Exec("o2.in.x = 1"), 0);
    EXPECT_EQ(k.StructRestore(&flat[0], oh), &flat[0] + flat.size());
    EXPECT_EQ(Get<int32_t>(Find("o2.in.x")), 9);

    FILE* fp = tmpfile();
    ASSERT_TRUE(fp);
    k.StructWrite(fp, oh);
    EXPECT_EQ(ftell(fp), (long)flat.size());
    ASSERT_EQ(Exec("o2.arr[1].s = \"gone\""), 0);
    rewind(fp);
    k.StructRead(fp, oh);
    EXPECT_STREQ(Find("o2.arr[1].s")->data, "deep");
    fclose(fp);
    // A short file: reading stops after the first empty block read.
    fp = tmpfile();
    ASSERT_TRUE(fp);
    fwrite("\x2A\0\0\0", 1, 4, fp);
    rewind(fp);
    k.StructRead(fp, h[2]);
    fclose(fp);
    EXPECT_EQ(Get<int32_t>(Find("p[2].x")), 42);
    EXPECT_STREQ(Find("p[2].s")->data, "two");
}

TEST_F(ValuesTest, TypeBlocksMustEndAndNotNest)
{
    EXPECT_EQ(RunProgram("{Type} a\n{Define} x:INT\n{Type} b\n{75}\n{75}\n"), 47);
    EXPECT_EQ(k.currentLine, 1u);
}

TEST_F(ValuesTest, TypeWithoutEndLine)
{
    EXPECT_EQ(RunProgram("{Define} z:INT\n{Type} a\n{Define} x:INT\n"), 47);
    EXPECT_EQ(k.currentLine, 2u);
}

TEST_F(ValuesTest, TypeWordFormsAndSelfContainingType)
{
    EXPECT_EQ(RunProgram("{Type} node\n{Define} v:INT\n{Define} next:node\nendtype\n{Define} n:node\n"), 2);
    VarRec* n = Find("n");
    ASSERT_TRUE(n);   // partly built; released with the chain
}

TEST_F(ValuesTest, NewMakesAPrivateRecord)
{
    ASSERT_EQ(RunProgram("{Type} pt\n{Define} x:INT\n{75}\n"
                         "{Define} p, q, r, t:POINTER\n"
                         "p = {New} INT, 5\n"
                         "q = {New} {Truncate}, 1\n"
                         "r = {New} pt, 2\n"
                         "t = {New} nosuchtype, 3\n"),
              0);
    VarRec* p = Find("p");
    ASSERT_TRUE(p && p->target);
    EXPECT_STREQ(p->target->name, "temp");
    EXPECT_EQ(p->target->type, T_INT);
    EXPECT_EQ(p->target->count, 5u);
    EXPECT_EQ(p->target->prev, nullptr);
    EXPECT_EQ(p->target->next, nullptr);
    uint32_t slot;
    memcpy(&slot, p->data, 4);
    EXPECT_EQ(SlotToPtr(slot), p->target->base);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(((int32_t*)p->target->base)[i], 0);
    ASSERT_EQ(Exec("#p[4] = 12"), 0);
    EXPECT_EQ(((int32_t*)p->target->base)[4], 12);
    EXPECT_EQ(Exec("#p[5] = 1"), 7);

    VarRec* q = Find("q");
    ASSERT_TRUE(q->target);
    EXPECT_EQ(q->target->type, T_INT);
    EXPECT_EQ(q->target->count, 1u);

    VarRec* r = Find("r");
    ASSERT_TRUE(r->target);
    EXPECT_EQ(r->target->type, T_USER_0);
    ASSERT_EQ(Exec("#r[1].x = 3"), 0);
    EXPECT_EQ(Get<int32_t>(Find("#r[1].x")), 3);

    VarRec* t = Find("t");
    EXPECT_EQ(t->target, nullptr);
    EXPECT_EQ(Exec("{New} INT"), 56);
    // Records made by CmdNew belong to whoever deletes them.
    for (VarRec* v : {p->target, q->target, r->target}) k.FreeChain(v, false);
}

TEST_F(ValuesTest, TypeNamesAreCutToSixteenCharacters)
{
    // Names that agree in their first 16 characters name the first such type.
    ASSERT_EQ(RunProgram("{Type} LongTypeNameAbcdefFIRST\n{Define} x:INT\n{75}\n"
                         "{Type} longtypenameabcdefSECOND\n{Define} d:DOUBLE\n{Define} e:DOUBLE\n{75}\n"
                         "{Define} v:LONGTYPENAMEABCDEFother\n"),
              0);
    TypeDef* t = k.FindType("longTypeNameAbcdef");
    ASSERT_TRUE(t);
    EXPECT_STREQ(t->name, "LongTypeNameAbcd");
    ASSERT_TRUE(t->next);
    EXPECT_EQ(k.FindType("LongTypeNameAbc"), nullptr);
    EXPECT_EQ(k.FindType(""), nullptr);
    VarRec* v = Find("v");
    ASSERT_TRUE(v);
    uint32_t slot;
    memcpy(&slot, v->data, 4);
    EXPECT_EQ(k.StructSize((VarRec*)SlotToPtr(slot)), 4);
}
