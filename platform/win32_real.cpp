// The product's binding of namespace win: each call goes straight to the Win32 API.
// Nothing is added here, so the system code behaves on Windows exactly as it does
// against the simulated machine.
#include "platform/win32.h"

namespace win {

HMODULE GetModuleHandleW(const wchar_t* moduleName) {
    return ::GetModuleHandleW(moduleName);
}

wchar_t* GetCommandLineW() {
    return ::GetCommandLineW();
}

DWORD GetLastError() {
    return ::GetLastError();
}

void SetLastError(DWORD error) {
    ::SetLastError(error);
}

void GetLocalTime(SYSTEMTIME* time) {
    ::GetLocalTime(time);
}

void OutputDebugStringW(const wchar_t* text) {
    ::OutputDebugStringW(text);
}

HANDLE CreateFileW(const wchar_t* fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
    return ::CreateFileW(fileName, desiredAccess, shareMode, securityAttributes,
                         creationDisposition, flagsAndAttributes, templateFile);
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* overlapped) {
    return ::WriteFile(file, buffer, bytesToWrite, bytesWritten, overlapped);
}

BOOL FlushFileBuffers(HANDLE file) {
    return ::FlushFileBuffers(file);
}

BOOL MoveFileExW(const wchar_t* existingFileName, const wchar_t* newFileName, DWORD flags) {
    return ::MoveFileExW(existingFileName, newFileName, flags);
}

BOOL DeleteFileW(const wchar_t* fileName) {
    return ::DeleteFileW(fileName);
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, void* inBuffer, DWORD inBufferSize,
                     void* outBuffer, DWORD outBufferSize, DWORD* bytesReturned,
                     OVERLAPPED* overlapped) {
    return ::DeviceIoControl(device, ioControlCode, inBuffer, inBufferSize, outBuffer,
                             outBufferSize, bytesReturned, overlapped);
}

BOOL CloseHandle(HANDLE object) {
    return ::CloseHandle(object);
}

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const wchar_t* enumerator, HWND parent,
                              DWORD flags) {
    return ::SetupDiGetClassDevsW(classGuid, enumerator, parent, flags);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* deviceInfoData) {
    return ::SetupDiEnumDeviceInfo(set, memberIndex, deviceInfoData);
}

BOOL SetupDiGetDevicePropertyW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData,
                               const DEVPROPKEY* propertyKey, DEVPROPTYPE* propertyType,
                               BYTE* propertyBuffer, DWORD propertyBufferSize, DWORD* requiredSize,
                               DWORD flags) {
    return ::SetupDiGetDevicePropertyW(set, deviceInfoData, propertyKey, propertyType,
                                       propertyBuffer, propertyBufferSize, requiredSize, flags);
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData,
                                       DWORD property, DWORD* propertyRegDataType,
                                       BYTE* propertyBuffer, DWORD propertyBufferSize,
                                       DWORD* requiredSize) {
    return ::SetupDiGetDeviceRegistryPropertyW(set, deviceInfoData, property, propertyRegDataType,
                                               propertyBuffer, propertyBufferSize, requiredSize);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData,
                                 const GUID* interfaceClassGuid, DWORD memberIndex,
                                 SP_DEVICE_INTERFACE_DATA* deviceInterfaceData) {
    return ::SetupDiEnumDeviceInterfaces(set, deviceInfoData, interfaceClassGuid, memberIndex,
                                         deviceInterfaceData);
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* deviceInterfaceData,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailSize,
                                      DWORD* requiredSize, SP_DEVINFO_DATA* deviceInfoData) {
    return ::SetupDiGetDeviceInterfaceDetailW(set, deviceInterfaceData, detail, detailSize,
                                              requiredSize, deviceInfoData);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    return ::SetupDiDestroyDeviceInfoList(set);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* multiByte, int multiByteCount,
                        wchar_t* wide, int wideCount) {
    return ::MultiByteToWideChar(codePage, flags, multiByte, multiByteCount, wide, wideCount);
}

HANDLE GetStdHandle(DWORD stdHandle) {
    return ::GetStdHandle(stdHandle);
}

BOOL GetConsoleMode(HANDLE consoleHandle, DWORD* mode) {
    return ::GetConsoleMode(consoleHandle, mode);
}

BOOL WriteConsoleW(HANDLE consoleOutput, const wchar_t* buffer, DWORD charsToWrite,
                   DWORD* charsWritten, void* reserved) {
    return ::WriteConsoleW(consoleOutput, buffer, charsToWrite, charsWritten, reserved);
}

}  // namespace win
