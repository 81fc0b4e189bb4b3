// The one place where the core meets the operating system. Paths and text are
// UTF-16 (char16_t); the POSIX implementation converts paths to UTF-8.
#pragma once

#include <cstdint>
#include <string>

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Opens an existing file for reading, shared for reading. kNoFile on failure.
FileHandle OpenFileForRead(const char16_t* path);
// The same for a regular file only, never waiting on what is not one: a
// folder, a FIFO or a device is refused. On failure `*systemError` receives
// the system's reason (errno, GetLastError()), 0 for something there that is
// no file, and `*missing` whether nothing is there (a dangling link
// included).
FileHandle OpenRegularFileForRead(const char16_t* path, int* systemError, bool* missing);
// The system's reason of this thread's last failed call (errno,
// GetLastError()): read at once, before another call changes it.
int LastSystemError();
// The system's words for such a reason ("Permission denied"), in English
// where the system has them so; "" for 0.
std::string SystemErrorText(int systemError);
// Creates the file, replacing any existing one, for writing (shared for reading).
FileHandle CreateFileForWrite(const char16_t* path);
// Size in bytes; false when it cannot be told.
bool GetFileLength(FileHandle file, uint64_t* length);
// Reads up to `length` bytes at the current position; `*got` receives the count.
bool ReadFileBytes(FileHandle file, void* buffer, uint32_t length, uint32_t* got);
// Moves the position to `position` bytes from the beginning.
bool SeekFileTo(FileHandle file, uint32_t position);
// Writes `length` bytes; true only when every byte was accepted.
bool WriteFileBytes(FileHandle file, const void* buffer, uint32_t length);
// Pushes written data to the disk.
bool FlushFileBytes(FileHandle file);
void CloseFileHandle(FileHandle file);
// Puts `source` in the place of `target` in one step; the target is never
// missing, whatever happens.
bool ReplaceFileWith(const char16_t* source, const char16_t* target);
bool RemoveFileAt(const char16_t* path);
// Whether anything is at `path`, readable or not: tells a missing file from
// one that cannot be opened.
bool PathExists(const char16_t* path);

struct LocalDate {
    uint16_t year;
    uint8_t month;
    uint8_t day;
};
LocalDate GetLocalDateToday();

// Full path of the running executable, terminated; the count of units before
// the terminator, 0 on failure or when it does not fit.
uint32_t GetModulePath(char16_t* buffer, uint32_t capacity);

// Converts NUL-terminated text in the system's ANSI code page, terminator
// included; bytes invalid in the code page are replaced, not refused. Returns
// the units written (terminator included), 0 when the output does not fit.
uint32_t AnsiToUtf16(const char* text, char16_t* out, uint32_t outCapacity);

// Makes the console show UTF-8 output as such (a no-op where it always does).
void PrepareConsoleForUtf8();
