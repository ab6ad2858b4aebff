// Scalar types, result codes and calling conventions of the component model.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using USHORT = uint16_t;
using SHORT = int16_t;
using ULONG = uint32_t;
using LONG = int32_t;
using INT = int32_t;
using UINT = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using FLOAT = float;
using DOUBLE = double;
using BOOL = int32_t;
using HRESULT = int32_t;
using SCODE = int32_t;
using LCID = uint32_t;
using DISPID = int32_t;
using MEMBERID = int32_t;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using OLECHAR = char16_t;
using WCHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using BSTR = OLECHAR*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Component-boundary functions use the default C calling convention here; the names
// stay so that the code reads as it would on the original platform.
#define STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT
#define STDAPI_(type) extern "C" type

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT MAKE_HRESULT(unsigned sev, unsigned fac, unsigned code) {
  return static_cast<HRESULT>((static_cast<uint32_t>(sev) << 31) |
                              (static_cast<uint32_t>(fac) << 16) | static_cast<uint32_t>(code));
}
constexpr unsigned HRESULT_FACILITY(HRESULT hr) {
  return (static_cast<uint32_t>(hr) >> 16) & 0x1fff;
}
constexpr unsigned HRESULT_CODE(HRESULT hr) { return static_cast<uint32_t>(hr) & 0xffff; }

constexpr unsigned FACILITY_ITF = 4;
constexpr unsigned FACILITY_WIN32 = 7;
constexpr unsigned FACILITY_DISPATCH = 2;
constexpr HRESULT HRESULT_FROM_WIN32(uint32_t err) {
  return err == 0 ? 0 : static_cast<HRESULT>((err & 0x0000ffffu) | 0x80070000u);
}

#define COM_HR(x) static_cast<HRESULT>(x##u)
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = COM_HR(0x80004001);
constexpr HRESULT E_NOINTERFACE = COM_HR(0x80004002);
constexpr HRESULT E_POINTER = COM_HR(0x80004003);
constexpr HRESULT E_ABORT = COM_HR(0x80004004);
constexpr HRESULT E_FAIL = COM_HR(0x80004005);
constexpr HRESULT E_UNEXPECTED = COM_HR(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = COM_HR(0x80070005);
constexpr HRESULT E_HANDLE = COM_HR(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = COM_HR(0x8007000E);
constexpr HRESULT E_INVALIDARG = COM_HR(0x80070057);
constexpr HRESULT CO_E_NOTINITIALIZED = COM_HR(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = COM_HR(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = COM_HR(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = COM_HR(0x800401F9);
constexpr HRESULT CO_E_APPNOTFOUND = COM_HR(0x800401F5);
constexpr HRESULT REGDB_E_READREGDB = COM_HR(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = COM_HR(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = COM_HR(0x80040152);
constexpr HRESULT REGDB_E_CLASSNOTREG = COM_HR(0x80040154);
constexpr HRESULT REGDB_E_IIDNOTREG = COM_HR(0x80040155);
constexpr HRESULT CLASS_E_NOAGGREGATION = COM_HR(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = COM_HR(0x80040111);
constexpr HRESULT SELFREG_E_TYPELIB = COM_HR(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = COM_HR(0x80040201);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = COM_HR(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = COM_HR(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = COM_HR(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = COM_HR(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = COM_HR(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = COM_HR(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = COM_HR(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = COM_HR(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = COM_HR(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = COM_HR(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = COM_HR(0x8002000D);
constexpr HRESULT DISP_E_BADPARAMCOUNT = COM_HR(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = COM_HR(0x8002000F);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = COM_HR(0x8002802B);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = COM_HR(0x8002801D);
constexpr HRESULT TYPE_E_INVALIDSTATE = COM_HR(0x80028029);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = COM_HR(0x80029C4A);
constexpr HRESULT TYPE_E_REGISTRYACCESS = COM_HR(0x8002801C);
constexpr HRESULT TYPE_E_BADMODULEKIND = COM_HR(0x800288BD);
constexpr HRESULT TYPE_E_INVDATAREAD = COM_HR(0x80028018);
constexpr HRESULT TYPE_E_UNSUPFORMAT = COM_HR(0x80028019);
#undef COM_HR

// Win32 error numbers used by the registry and the loader.
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_INVALID_DATA = 13;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_READ_FAULT = 30;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_PROC_NOT_FOUND = 127;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_BADKEY = 1010;
constexpr LONG ERROR_CANTOPEN = 1011;
constexpr LONG ERROR_CANTREAD = 1012;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_KEY_DELETED = 1018;
