// Bytes a variable's storage holds from its current element to the end.
#pragma once
#include "interp/Kestrin.h"
#include <cstddef>

// 0 without storage or when the current element lies outside it.
inline size_t BytesFromElement(const VarRec* v)
{
    if (!v || !v->data) return 0;
    const char* start = Kestrin::StorageStart(v);
    size_t total = Kestrin::StorageBytes(v);
    if (!start || v->data < start) return 0;
    size_t off = (size_t)(v->data - start);
    return off >= total ? 0 : total - off;
}
