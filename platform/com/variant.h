// VARIANT operations.
#pragma once

#include "com/automation.h"

constexpr USHORT VARIANT_NOVALUEPROP = 0x1;
constexpr USHORT VARIANT_ALPHABOOL = 0x2;

extern "C" {
void VariantInit(VARIANT* v);
// Releases what the variant owns (texts, arrays, interfaces; never what a by-reference
// form points at) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
// Deep copy: texts and arrays are duplicated, interfaces get a reference.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Like VariantCopy, but a by-reference source is copied as the value it points at.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src);
// Among EMPTY, I2, I4, UI1, R8, BOOL, BSTR, DISPATCH, UNKNOWN; dest may equal src.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);
}
