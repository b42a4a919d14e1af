// A program run in-process for the sysmem unit tests; the interpreter keeps its
// variables for inspection until the object goes.
#pragma once
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include "interp/Kestrin.h"
#include "startup/ProgramImage.h"
#include "tests/unit/ProgramRunner.h"

namespace sysmemtest {

using programrunner::QuietKestrin;

struct Program {
    std::unique_ptr<QuietKestrin> k{new QuietKestrin};
    char* image = nullptr;
    unsigned line = 0;   // source line of the error, 0 without one

    explicit Program(const std::string& source)
    {
        image = programrunner::PlainImage(source);
        ProgramImage::RunInterpreter(*k, image);
        line = programrunner::ErrorLine(*k);
    }
    ~Program()
    {
        k.reset();
        free(image);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    int code() const { return k->errorCode; }
    VarRec* Find(const char* name)
    {
        char buf[64];
        snprintf(buf, sizeof buf, "%s", name);
        uint8_t saved = k->errorCode;
        VarRec* r = k->LookupVariable(buf, nullptr, false);
        k->errorCode = saved;
        return r;
    }
    // The value of a FLOAT or DOUBLE variable into *out; false for any other type.
    static bool FloatValue(const VarRec* r, double* out)
    {
        if (r->type == T_FLOAT) {
            float f;
            memcpy(&f, r->data, 4);
            *out = f;
            return true;
        }
        if (r->type == T_DOUBLE) {
            memcpy(out, r->data, 8);
            return true;
        }
        return false;
    }
    // The value of a number variable, truncated to an int.
    int32_t Int(const char* name)
    {
        VarRec* r = Find(name);
        EXPECT_TRUE(r && r->data) << name;
        if (!r || !r->data) return 0;
        double d;
        if (FloatValue(r, &d)) return (int32_t)d;
        int32_t v = 0;
        memcpy(&v, r->data, 4);
        return v;
    }
    double Number(const char* name)
    {
        VarRec* r = Find(name);
        EXPECT_TRUE(r && r->data) << name;
        if (!r || !r->data) return 0;
        double d;
        if (FloatValue(r, &d)) return d;
        return Int(name);
    }
    std::string Text(const char* name)
    {
        VarRec* r = Find(name);
        EXPECT_TRUE(r && r->data) << name;
        return r && r->data ? std::string(r->data) : std::string();
    }
};

struct ErrorCase {
    const char* what;
    const char* source;
    int code;
    unsigned line;
};

inline void ExpectErrors(const ErrorCase* cases, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        Program p(cases[i].source);
        EXPECT_EQ(p.code(), cases[i].code) << cases[i].what;
        EXPECT_EQ(p.line, cases[i].line) << cases[i].what;
    }
}

}
