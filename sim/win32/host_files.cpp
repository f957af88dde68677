// Files of the host the program writes through CreateFileW, WriteFile, FlushFileBuffers,
// MoveFileExW and DeleteFileW: the preflight's capture lands on the host's file system,
// where the runner's caller finds it. Every call is traced like the others. The C
// runtime's files serve both hosts of the tests (Linux, and Wine for the Windows build).
#include <cerrno>
#include <cstdio>
#include <string>

#include "base/utf8.h"
#include "platform/win32.h"
#include "sim/models/text.h"
#include "sim/win32/runtime.h"

#ifndef ERROR_PATH_NOT_FOUND
#define ERROR_PATH_NOT_FOUND 3u
#endif
#ifndef ERROR_INVALID_FUNCTION
#define ERROR_INVALID_FUNCTION 1u
#endif

namespace sim {
namespace {

// The Win32 error a Windows file system gives for the same refusal.
DWORD ErrorOf(int posixError) {
    switch (posixError) {
        case ENOENT:
        case ENOTDIR:
        case ENAMETOOLONG:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case EBUSY:
        case EEXIST:  // a rename over a folder, on the C runtime of Windows
        case ENOTEMPTY:
            return ERROR_ACCESS_DENIED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

OpenFile* HostFileOf(HANDLE handle) {
    auto found = State().files.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == State().files.end() || found->second.hostFile == nullptr) {
        return nullptr;
    }
    return &found->second;
}

}  // namespace

HostOpen CreateHostFile(const wchar_t* path, DWORD creationDisposition) {
    HostOpen open;
    const std::string name = utf8::FromUtf16(path);
    if (creationDisposition != CREATE_ALWAYS || name.empty()) {
        open.error = ERROR_FILE_NOT_FOUND;
        return open;
    }
    errno = 0;
    open.file = std::fopen(name.c_str(), "wb");
    if (open.file == nullptr) {
        open.error = ErrorOf(errno);
    }
    return open;
}

void CloseHostFile(OpenFile& file) {
    if (file.hostFile != nullptr) {
        std::fclose(file.hostFile);
        file.hostFile = nullptr;
    }
}

}  // namespace sim

namespace win {

using sim::State;
using sim::TraceRecord;

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* overlapped) {
    (void)overlapped;
    TraceRecord record("WriteFile");
    record.Number("handle", sim::HandleNumber(file)).Number("size", bytesToWrite);
    sim::OpenFile* open = sim::HostFileOf(file);
    if (open == nullptr || (buffer == nullptr && bytesToWrite != 0)) {
        return record.Fail(open == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    }
    errno = 0;
    const std::size_t done =
        bytesToWrite == 0 ? 0 : std::fwrite(buffer, 1, bytesToWrite, open->hostFile);
    if (bytesWritten != nullptr) {
        *bytesWritten = static_cast<DWORD>(done);
    }
    if (done != bytesToWrite) {
        return record.Fail(sim::ErrorOf(errno));
    }
    record.Commit(true);
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
    TraceRecord record("FlushFileBuffers");
    record.Number("handle", sim::HandleNumber(file));
    sim::OpenFile* open = sim::HostFileOf(file);
    if (open == nullptr) {
        return record.Fail(ERROR_INVALID_HANDLE);
    }
    errno = 0;
    if (std::fflush(open->hostFile) != 0) {
        return record.Fail(sim::ErrorOf(errno));
    }
    record.Commit(true);
    return TRUE;
}

BOOL MoveFileExW(const wchar_t* existingFileName, const wchar_t* newFileName, DWORD flags) {
    TraceRecord record("MoveFileExW");
    record.WideOrNull("path", existingFileName)
        .WideOrNull("newPath", newFileName)
        .Number("flags", flags);
    if (existingFileName == nullptr || newFileName == nullptr ||
        (flags & MOVEFILE_REPLACE_EXISTING) == 0) {
        // Without MOVEFILE_REPLACE_EXISTING Windows refuses an existing target, which a
        // rename here would replace: the program always passes it.
        return record.Fail(ERROR_INVALID_PARAMETER);
    }
    const std::string from = utf8::FromUtf16(existingFileName);
    const std::string to = utf8::FromUtf16(newFileName);
    errno = 0;
#ifdef _WIN32
    // The C runtime's rename refuses an existing target on Windows.
    std::remove(to.c_str());
#endif
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        return record.Fail(sim::ErrorOf(errno));
    }
    record.Commit(true);
    return TRUE;
}

BOOL DeleteFileW(const wchar_t* fileName) {
    TraceRecord record("DeleteFileW");
    record.WideOrNull("path", fileName);
    if (fileName == nullptr) {
        return record.Fail(ERROR_INVALID_PARAMETER);
    }
    errno = 0;
    if (std::remove(utf8::FromUtf16(fileName).c_str()) != 0) {
        return record.Fail(sim::ErrorOf(errno));
    }
    record.Commit(true);
    return TRUE;
}

}  // namespace win
