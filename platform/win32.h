// The Win32 subset the updater uses.
//
// On Windows the types and constants come from the real headers. Elsewhere the
// same names are defined here with the sizes Windows gives them on x64, so that
// request buffers and device-setup records have the same layout in both worlds.
//
// The calls live in namespace `win` under their Windows names. They are bound at
// link time: platform/win32_real.cpp forwards them to the real API (the product),
// sim/ answers them from the simulated machine (tests and the runner). Keeping them
// out of the global namespace lets the simulated binding link on Windows too, beside
// the real declarations.
//
// Wide text is wchar_t holding UTF-16 code units on every platform: on Linux each
// 32-bit wchar_t carries one UTF-16 unit. Nothing may depend on sizeof(wchar_t).
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <devpropdef.h>
#include <cfgmgr32.h>
#include <setupapi.h>
// clang-format on

#else  // the simulated world

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = int;
using ULONG_PTR = std::uintptr_t;
using DWORDLONG = std::uint64_t;
using HANDLE = void*;
using HDEVINFO = void*;
using HMODULE = void*;
using HWND = void*;
using DEVINST = DWORD;
using DEVPROPTYPE = ULONG;

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};

struct DEVPROPKEY {
    GUID fmtid;
    ULONG pid;
};

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};

struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    wchar_t DevicePath[1];
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u
#define CREATE_ALWAYS 2u
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_WRITE_THROUGH 0x00000008u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_OVERLAPPED 0x40000000u

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_GEN_FAILURE 31u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_NO_MORE_ITEMS 259u
#define ERROR_INVALID_USER_BUFFER 1784u
#define ERROR_NOT_FOUND 1168u

#define DIGCF_DEFAULT 0x00000001u
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_ALLCLASSES 0x00000004u
#define DIGCF_PROFILE 0x00000008u
#define DIGCF_DEVICEINTERFACE 0x00000010u

#define SPDRP_HARDWAREID 0x00000001u
#define REG_SZ 1u
#define REG_MULTI_SZ 7u
#define DEVPROP_TYPE_STRING 0x00000012u

#define CP_UTF8 65001u

#define STD_INPUT_HANDLE (static_cast<DWORD>(-10))
#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define STD_ERROR_HANDLE (static_cast<DWORD>(-12))
#define ENABLE_PROCESSED_OUTPUT 0x0001u
#define ENABLE_WRAP_AT_EOL_OUTPUT 0x0002u

#define FILE_DEVICE_CONTROLLER 0x00000004u
#define FILE_DEVICE_DISK 0x00000007u
#define IOCTL_SCSI_MINIPORT 0x0004D008u
#define IOCTL_STORAGE_GET_DEVICE_NUMBER 0x002D1080u
#define IOCTL_STORAGE_QUERY_PROPERTY 0x002D1400u

#endif  // _WIN32

// The platform operations of the updater, bound at link time.
namespace win {

HMODULE GetModuleHandleW(const wchar_t* moduleName);
wchar_t* GetCommandLineW();
DWORD GetLastError();
void SetLastError(DWORD error);
void GetLocalTime(SYSTEMTIME* time);
void OutputDebugStringW(const wchar_t* text);

HANDLE CreateFileW(const wchar_t* fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, void* inBuffer, DWORD inBufferSize,
                     void* outBuffer, DWORD outBufferSize, DWORD* bytesReturned,
                     OVERLAPPED* overlapped);
BOOL CloseHandle(HANDLE object);

// A file the program writes (the preflight's capture): written, flushed, renamed into
// place and, when that fails, removed.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* overlapped);
BOOL FlushFileBuffers(HANDLE file);
BOOL MoveFileExW(const wchar_t* existingFileName, const wchar_t* newFileName, DWORD flags);
BOOL DeleteFileW(const wchar_t* fileName);

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const wchar_t* enumerator, HWND parent,
                              DWORD flags);
BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* deviceInfoData);
BOOL SetupDiGetDevicePropertyW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData,
                               const DEVPROPKEY* propertyKey, DEVPROPTYPE* propertyType,
                               BYTE* propertyBuffer, DWORD propertyBufferSize, DWORD* requiredSize,
                               DWORD flags);
BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData,
                                       DWORD property, DWORD* propertyRegDataType,
                                       BYTE* propertyBuffer, DWORD propertyBufferSize,
                                       DWORD* requiredSize);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData,
                                 const GUID* interfaceClassGuid, DWORD memberIndex,
                                 SP_DEVICE_INTERFACE_DATA* deviceInterfaceData);
BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* deviceInterfaceData,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailSize,
                                      DWORD* requiredSize, SP_DEVINFO_DATA* deviceInfoData);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* multiByte, int multiByteCount,
                        wchar_t* wide, int wideCount);

// Standard output as Windows hands it over: a console, or a file or pipe it was
// redirected to. GetConsoleMode succeeds only on a console. WriteConsoleW takes UTF-16
// code units, one per wchar_t, and counts in code units.
HANDLE GetStdHandle(DWORD stdHandle);
BOOL GetConsoleMode(HANDLE consoleHandle, DWORD* mode);
BOOL WriteConsoleW(HANDLE consoleOutput, const wchar_t* buffer, DWORD charsToWrite,
                   DWORD* charsWritten, void* reserved);

// Identifiers of the device-setup interface, spelled as Windows spells them. They
// are defined here rather than taken from the SDK so that no translation unit has to
// instantiate the SDK's GUID definitions.
inline constexpr GUID GUID_DEVINTERFACE_DISK = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID GUID_DEVINTERFACE_STORAGEPORT = {
    0x2ACCFE60, 0xC130, 0x11D2, {0xB0, 0x82, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

inline constexpr DEVPROPKEY DEVPKEY_Device_DriverDesc = {
    {0xA8B865DD, 0x2E3D, 0x4094, {0xAD, 0x97, 0xE5, 0x93, 0xA7, 0x0C, 0x75, 0xD6}}, 4};
inline constexpr DEVPROPKEY DEVPKEY_Device_LocationInfo = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 15};
inline constexpr DEVPROPKEY DEVPKEY_Device_Parent = {
    {0x4340A6C5, 0x93FA, 0x4706, {0x97, 0x2C, 0x7B, 0x64, 0x80, 0x08, 0xA5, 0xA7}}, 8};
inline constexpr DEVPROPKEY DEVPKEY_Device_InstanceId = {
    {0x78C34FC8, 0x104A, 0x4ACA, {0x9E, 0xA4, 0x52, 0x4D, 0x52, 0x99, 0x6E, 0x57}}, 256};

inline bool SameGuid(const GUID& a, const GUID& b) {
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

inline bool SameKey(const DEVPROPKEY& a, const DEVPROPKEY& b) {
    return a.pid == b.pid && SameGuid(a.fmtid, b.fmtid);
}

}  // namespace win

static_assert(sizeof(DWORD) == 4 && sizeof(WORD) == 2 && sizeof(BYTE) == 1);
static_assert(sizeof(ULONG) == 4, "ULONG is 32 bits on Windows");
static_assert(sizeof(GUID) == 16);
static_assert(sizeof(DEVPROPKEY) == 20);
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "x64 layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "x64 layout");
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == 4);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "fixed part on x64");
static_assert(sizeof(SYSTEMTIME) == 16);
