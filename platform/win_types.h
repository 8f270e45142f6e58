// Basic Windows-style types, result codes and GUIDs for the user-mode
// components (driver and engine adapter) built on Linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

using BYTE = uint8_t;
using UCHAR = uint8_t;
using CHAR = char;
using USHORT = uint16_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using UINT = uint32_t;
using LONG = int32_t;
using INT = int32_t;
using BOOL = int32_t;
using BOOLEAN = uint8_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using ULONG_PTR = uintptr_t;
using SIZE_T = size_t;
using HRESULT = int32_t;

// Wide text is UTF-16 as on Windows; wchar_t is 4 bytes here.
using WCHAR = char16_t;
using PWSTR = char16_t*;
using PCWSTR = const char16_t*;

using HANDLE = void*;
using HMODULE = void*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// The "no handle" value returned by some creation calls and used as a marker.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

constexpr DWORD INFINITE = 0xFFFFFFFFu;

constexpr HRESULT hresult_of(uint32_t value) { return static_cast<HRESULT>(value); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = hresult_of(0x80004001u);
constexpr HRESULT E_NOINTERFACE = hresult_of(0x80004002u);
constexpr HRESULT E_POINTER = hresult_of(0x80004003u);
constexpr HRESULT E_ABORT = hresult_of(0x80004004u);
constexpr HRESULT E_FAIL = hresult_of(0x80004005u);
constexpr HRESULT E_UNEXPECTED = hresult_of(0x8000FFFFu);
constexpr HRESULT E_HANDLE = hresult_of(0x80070006u);
constexpr HRESULT E_OUTOFMEMORY = hresult_of(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = hresult_of(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = hresult_of(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresult_of(0x80040111u);

// Win32 error codes (GetLastError values).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_CANCELLED = 1223;
constexpr DWORD ERROR_TIMEOUT = 1460;

constexpr HRESULT HRESULT_FROM_WIN32(DWORD error)
{
    return static_cast<HRESULT>(error) <= 0
               ? static_cast<HRESULT>(error)
               : static_cast<HRESULT>((error & 0x0000FFFFu) | (7u << 16) | 0x80000000u);
}

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

static_assert(HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION) == hresult_of(0x80070001u));
static_assert(HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED) == hresult_of(0x800703E3u));
static_assert(HRESULT_FROM_WIN32(ERROR_CANCELLED) == hresult_of(0x800704C7u));
static_assert(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER) == E_INVALIDARG);
static_assert(HRESULT_FROM_WIN32(ERROR_SUCCESS) == S_OK);

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

constexpr bool operator==(const GUID& a, const GUID& b)
{
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}

constexpr bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

static_assert(sizeof(BYTE) == 1 && sizeof(USHORT) == 2 && sizeof(DWORD) == 4 && sizeof(ULONG) == 4);
static_assert(sizeof(LONGLONG) == 8 && sizeof(WCHAR) == 2 && sizeof(HRESULT) == 4 && sizeof(BOOL) == 4);
