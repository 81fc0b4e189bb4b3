// The platform layer on POSIX: files by descriptor, the local date, the module path, GBK text.
#include "platform/platform.h"
#include "platform/platform_seams.h"

#include "base/utf8.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// A path is bytes: what was not UTF-8 comes back as the bytes it was.
std::string ToUtf8(const char16_t* text) { return text ? Utf16PathToUtf8(text) : std::string(); }

int Fd(FileHandle file) { return static_cast<int>(file); }

}  // namespace

FileHandle OpenFileForRead(const char16_t* path) {
    std::string name = ToUtf8(path);
    if (name.empty()) return kNoFile;
    int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kNoFile;
    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        return kNoFile;
    }
    return fd;
}

FileHandle OpenRegularFileForRead(const char16_t* path, int* systemError, bool* missing) {
    const std::string name = ToUtf8(path);
    *systemError = ENOENT;
    *missing = true;
    if (name.empty()) return kNoFile;
    // Without O_NONBLOCK, opening a FIFO waits for a writer, perhaps forever.
    const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        *systemError = errno;
        *missing = *systemError == ENOENT || *systemError == ENOTDIR;
        if (fd >= 0) close(fd);
        return kNoFile;
    }
    *missing = false;
    if (!S_ISREG(info.st_mode)) {
        *systemError = S_ISDIR(info.st_mode) ? EISDIR : 0;
        close(fd);
        return kNoFile;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *systemError = 0;
    return fd;
}

int LastSystemError() { return errno; }

std::string SystemErrorText(int systemError) {
    if (systemError == 0) return {};
    char text[256];
    // The GNU strerror_r may return a static text rather than fill the buffer.
    return strerror_r(systemError, text, sizeof text);
}

bool PathExists(const char16_t* path) {
    const std::string name = ToUtf8(path);
    struct stat info;
    return !name.empty() && lstat(name.c_str(), &info) == 0;
}

FileHandle CreateFileForWrite(const char16_t* path) {
    std::string name = ToUtf8(path);
    if (name.empty()) return kNoFile;
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? kNoFile : fd;
}

bool GetFileLength(FileHandle file, uint64_t* length) {
    struct stat info;
    if (fstat(Fd(file), &info) != 0) return false;
    *length = static_cast<uint64_t>(info.st_size);
    return true;
}

bool ReadFileBytes(FileHandle file, void* buffer, uint32_t length, uint32_t* got) {
    if (readObserver) {
        off_t at = lseek(Fd(file), 0, SEEK_CUR);
        readObserver(readObserverContext, at < 0 ? 0 : static_cast<uint64_t>(at), length);
    }
    uint32_t done = 0;
    char* out = static_cast<char*>(buffer);
    while (done < length) {
        ssize_t n = read(Fd(file), out + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    *got = done;
    return true;
}

bool SeekFileTo(FileHandle file, uint32_t position) {
    return lseek(Fd(file), static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

bool WriteFileBytes(FileHandle file, const void* buffer, uint32_t length) {
    if (writeFilter && !writeFilter(writeFilterContext, length)) return false;
    uint32_t done = 0;
    const char* in = static_cast<const char*>(buffer);
    while (done < length) {
        ssize_t n = write(Fd(file), in + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<uint32_t>(n);
    }
    return true;
}

bool FlushFileBytes(FileHandle file) { return fsync(Fd(file)) == 0; }

void CloseFileHandle(FileHandle file) {
    if (file != kNoFile) close(Fd(file));
}

bool ReplaceFileWith(const char16_t* source, const char16_t* target) {
    std::string from = ToUtf8(source), to = ToUtf8(target);
    if (from.empty() || to.empty() || rename(from.c_str(), to.c_str()) != 0) return false;
    // The rename itself is only durable once the folder is on disk.
    std::string::size_type slash = to.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    return true;
}

bool RemoveFileAt(const char16_t* path) {
    std::string name = ToUtf8(path);
    // Only files and links: a path naming a device (say /dev/full, written
    // to as an export target) must never be unlinked.
    struct stat info;
    if (name.empty() || lstat(name.c_str(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)))
        return false;
    return unlink(name.c_str()) == 0;
}

LocalDate GetLocalDateToday() {
    time_t now = time(nullptr);
    struct tm parts;
    localtime_r(&now, &parts);
    return LocalDate{static_cast<uint16_t>(parts.tm_year + 1900), static_cast<uint8_t>(parts.tm_mon + 1),
                     static_cast<uint8_t>(parts.tm_mday)};
}

uint32_t GetModulePath(char16_t* buffer, uint32_t capacity) {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
    if (n <= 0 || capacity == 0) return 0;
    const std::u16string text = Utf8ToUtf16(path, static_cast<size_t>(n));
    if (text.size() + 1 > capacity) return 0;
    text.copy(buffer, text.size());
    buffer[text.size()] = 0;
    return static_cast<uint32_t>(text.size());
}

uint32_t AnsiToUtf16(const char* text, char16_t* out, uint32_t outCapacity) {
    iconv_t cd = iconv_open("UTF-16LE", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
    size_t inLeft = strlen(text) + 1;
    char* in = const_cast<char*>(text);
    char* dst = reinterpret_cast<char*>(out);
    size_t outLeft = static_cast<size_t>(outCapacity) * 2;
    bool ok = true;
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
        if (errno == E2BIG || outLeft < 2) {
            ok = false;
            break;
        }
        // An invalid or cut-off sequence: one replacement character per bad byte.
        const char16_t replacement = 0xFFFD;
        memcpy(dst, &replacement, 2);
        dst += 2;
        outLeft -= 2;
        ++in;
        --inLeft;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    iconv_close(cd);
    if (!ok) return 0;
    return static_cast<uint32_t>((dst - reinterpret_cast<char*>(out)) / 2);
}

void PrepareConsoleForUtf8() {}
