// BSTR: UTF-16 text with a 32-bit byte-length prefix and a terminating zero. A null BSTR
// and an empty one are the same value: every function here treats them alike.
#pragma once

#include "com/base.h"

extern "C" {
BSTR SysAllocString(LPCOLESTR text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);  // text may be null: zero-filled
BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length);
INT SysReAllocString(BSTR* target, LPCOLESTR text);
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
}
