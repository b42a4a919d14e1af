// One-argument numeric functions. Arguments outside a function's domain give
// what the floating-point library gives (infinity, not-a-number); no error.
#include "interp/Kestrin.h"
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Fetches the single numeric argument; any other argument count is error 1.
bool MathArgument(Kestrin* k, StmtRec* s, ValueRec* v)
{
    if (s->argc != 1) {
        k->errorCode = 1;
        return false;
    }
    return k->FetchArgument(v, s, 0, WANT_NUMBER) != nullptr;
}

StmtRec* DoubleResult(Kestrin* k, StmtRec* s, double value)
{
    if (!k->sysDouble || !k->sysDouble->data) {
        k->errorCode = 2;
        return nullptr;
    }
    memcpy(k->sysDouble->data, &value, sizeof value);
    s->resultType = T_DOUBLE;
    return s;
}

StmtRec* Apply(Kestrin* k, StmtRec* s, double (*fn)(double))
{
    ValueRec v;
    if (!MathArgument(k, s, &v)) return nullptr;
    return DoubleResult(k, s, fn(v.d));
}

// Low 32 bits, as a signed value, of d truncated toward zero. Exact for every
// finite d (the 64-bit conversion alone is undefined beyond its range);
// infinities and not-a-number give 0.
int32_t Low32OfTruncated(double d)
{
    if (!std::isfinite(d)) return 0;
    double m = std::fmod(std::trunc(d), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return (int32_t)(uint32_t)m;
}

double Sign(double d)
{
    return d > 0 ? 1.0 : d < 0 ? -1.0 : 0.0;
}

}

StmtRec* Kestrin::CmdSin(StmtRec* s) { return Apply(this, s, [](double d) { return std::sin(d); }); }
StmtRec* Kestrin::CmdCos(StmtRec* s) { return Apply(this, s, [](double d) { return std::cos(d); }); }
StmtRec* Kestrin::CmdTan(StmtRec* s) { return Apply(this, s, [](double d) { return std::tan(d); }); }
StmtRec* Kestrin::CmdArcSin(StmtRec* s) { return Apply(this, s, [](double d) { return std::asin(d); }); }
StmtRec* Kestrin::CmdArcCos(StmtRec* s) { return Apply(this, s, [](double d) { return std::acos(d); }); }
StmtRec* Kestrin::CmdArcTan(StmtRec* s) { return Apply(this, s, [](double d) { return std::atan(d); }); }
StmtRec* Kestrin::CmdAbs(StmtRec* s) { return Apply(this, s, [](double d) { return std::fabs(d); }); }
StmtRec* Kestrin::CmdCeiling(StmtRec* s) { return Apply(this, s, [](double d) { return std::ceil(d); }); }
StmtRec* Kestrin::CmdFloor(StmtRec* s) { return Apply(this, s, [](double d) { return std::floor(d); }); }
StmtRec* Kestrin::CmdSqrt(StmtRec* s) { return Apply(this, s, [](double d) { return std::sqrt(d); }); }
StmtRec* Kestrin::CmdExp(StmtRec* s) { return Apply(this, s, [](double d) { return std::exp(d); }); }
StmtRec* Kestrin::CmdSinh(StmtRec* s) { return Apply(this, s, [](double d) { return std::sinh(d); }); }
StmtRec* Kestrin::CmdCosh(StmtRec* s) { return Apply(this, s, [](double d) { return std::cosh(d); }); }
StmtRec* Kestrin::CmdTanh(StmtRec* s) { return Apply(this, s, [](double d) { return std::tanh(d); }); }
StmtRec* Kestrin::CmdLog(StmtRec* s) { return Apply(this, s, [](double d) { return std::log(d); }); }
StmtRec* Kestrin::CmdLog10(StmtRec* s) { return Apply(this, s, [](double d) { return std::log10(d); }); }
StmtRec* Kestrin::CmdSign(StmtRec* s) { return Apply(this, s, Sign); }

StmtRec* Kestrin::CmdTruncate(StmtRec* s)
{
    return Apply(this, s, [](double d) { return (double)Low32OfTruncated(d); });
}

StmtRec* Kestrin::CmdRandom(StmtRec* s)
{
    ValueRec v;
    if (!MathArgument(this, s, &v)) return nullptr;
    int r = rand() & 0x7FFF;   // 0..32767, seeded once by Init
    return DoubleResult(this, s, r * (1.0 / 32768.0) * v.d);
}

StmtRec* Kestrin::CmdBitNot(StmtRec* s)
{
    ValueRec v;
    if (!MathArgument(this, s, &v)) return nullptr;
    if (!sysInt || !sysInt->data) {
        errorCode = 2;
        return nullptr;
    }
    int32_t value = ~v.i;
    memcpy(sysInt->data, &value, sizeof value);
    s->resultType = T_INT;
    return s;
}
