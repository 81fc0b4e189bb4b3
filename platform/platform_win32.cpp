// The platform layer on Win32: files by handle, the local date, the module path, ANSI text.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "base/text16.h"
#include "platform/platform.h"
#include "platform/platform_seams.h"

namespace {

HANDLE H(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle FromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

// MoveFileExW wants full paths for a reliable write-through replace.
bool FullPath(const char16_t* path, wchar_t* out, DWORD capacity) {
    DWORD n = GetFullPathNameW(AsWide(path), capacity, out, nullptr);
    return n != 0 && n < capacity;
}

}  // namespace

FileHandle OpenFileForRead(const char16_t* path) {
    return FromHandle(CreateFileW(AsWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

FileHandle OpenRegularFileForRead(const char16_t* path, int* systemError, bool* missing) {
    const HANDLE file = CreateFileW(AsWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    *systemError = 0;
    *missing = false;
    if (file == INVALID_HANDLE_VALUE) {
        *systemError = static_cast<int>(GetLastError());
        *missing = !PathExists(path);
        return kNoFile;
    }
    // A pipe or a console is no file: its reads could wait forever.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return kNoFile;
    }
    return FromHandle(file);
}

int LastSystemError() { return static_cast<int>(GetLastError()); }

std::string SystemErrorText(int systemError) {
    if (systemError == 0) return {};
    char text[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(systemError), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
    return n ? std::string(text, n) : "system error " + std::to_string(systemError);
}

bool PathExists(const char16_t* path) { return GetFileAttributesW(AsWide(path)) != INVALID_FILE_ATTRIBUTES; }

FileHandle CreateFileForWrite(const char16_t* path) {
    return FromHandle(CreateFileW(AsWide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool GetFileLength(FileHandle file, uint64_t* length) {
    DWORD high = 0;
    DWORD low = GetFileSize(H(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *length = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

bool ReadFileBytes(FileHandle file, void* buffer, uint32_t length, uint32_t* got) {
    if (readObserver) {
        LONG high = 0;
        DWORD low = SetFilePointer(H(file), 0, &high, FILE_CURRENT);
        readObserver(readObserverContext, (static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low, length);
    }
    DWORD done = 0;
    if (!ReadFile(H(file), buffer, length, &done, nullptr)) return false;
    *got = done;
    return true;
}

bool SeekFileTo(FileHandle file, uint32_t position) {
    // The high part keeps positions of 2 GiB and more from reading as negative.
    LONG high = 0;
    DWORD low = SetFilePointer(H(file), static_cast<LONG>(position), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool WriteFileBytes(FileHandle file, const void* buffer, uint32_t length) {
    if (writeFilter && !writeFilter(writeFilterContext, length)) return false;
    // A short count is a failure: on a full disk some systems report success
    // for the part that fitted.
    DWORD done = 0;
    return WriteFile(H(file), buffer, length, &done, nullptr) && done == length;
}

bool FlushFileBytes(FileHandle file) { return FlushFileBuffers(H(file)) != 0; }

void CloseFileHandle(FileHandle file) {
    if (file != kNoFile) CloseHandle(H(file));
}

bool ReplaceFileWith(const char16_t* source, const char16_t* target) {
    wchar_t from[MAX_PATH * 4], to[MAX_PATH * 4];
    if (!FullPath(source, from, MAX_PATH * 4) || !FullPath(target, to, MAX_PATH * 4)) return false;
    // Virus scanners briefly hold new files open; wait a moment for them.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) break;
        Sleep(50);
    }
    return false;
}

bool RemoveFileAt(const char16_t* path) { return DeleteFileW(AsWide(path)) != 0; }

LocalDate GetLocalDateToday() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return LocalDate{now.wYear, static_cast<uint8_t>(now.wMonth), static_cast<uint8_t>(now.wDay)};
}

uint32_t GetModulePath(char16_t* buffer, uint32_t capacity) {
    if (capacity == 0) return 0;
    DWORD n = GetModuleFileNameW(nullptr, AsWide(buffer), capacity);
    // n == capacity means the path was cut short.
    if (n == 0 || n >= capacity) {
        buffer[0] = 0;
        return 0;
    }
    return n;
}

uint32_t AnsiToUtf16(const char* text, char16_t* out, uint32_t outCapacity) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, AsWide(out), static_cast<int>(outCapacity));
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

void PrepareConsoleForUtf8() { SetConsoleOutputCP(CP_UTF8); }
