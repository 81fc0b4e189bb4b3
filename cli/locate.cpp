// Where vnlt finds the directory file: the option, beside the program, the
// user's own copy, the packaged copy.
#include "cli/locate.h"

#include <cstdlib>

#include "base/utf8.h"
#include "platform/platform.h"

#ifndef _WIN32
#include <filesystem>
#include <system_error>
#endif

namespace {

// The executable's folder with its trailing separator; empty when unknown.
std::string ExecutableFolder() {
    char16_t module[4096];
    const uint32_t length = GetModulePath(module, 4096);
    const std::string path = Utf16ToUtf8(module, length);
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

#ifndef _WIN32
// $XDG_DATA_HOME/varnolt/Varnolt.dat, or ~/.local/share/...; empty when
// neither is set (a relative XDG_DATA_HOME is ignored, as the XDG rules say).
std::string UserCopy() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base;
    if (dataHome && dataHome[0] == '/') {
        base = dataHome;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') return {};
        base = std::filesystem::path(home) / ".local" / "share";
    }
    return (base / "varnolt" / "Varnolt.dat").lexically_normal().string();
}
#endif

}  // namespace

bool FileExists(const std::string& path) {
    FileHandle file = OpenFileForRead(Utf8PathToUtf16(path).c_str());
    CloseFileHandle(file);
    return file != kNoFile;
}

DirectoryFiles LocateDirectoryFiles(const std::string& dat) {
    if (!dat.empty()) return {dat, dat, false};
    const std::string folder = ExecutableFolder();
    const std::string beside = folder + "Varnolt.dat";
    if (FileExists(beside)) return {beside, beside, false};
#ifdef _WIN32
    return {{}, beside, false};
#else
    const std::string own = UserCopy();
    if (!own.empty() && FileExists(own)) return {own, own, false};
    const std::string packaged =
        (std::filesystem::path(folder) / ".." / "share" / "varnolt" / "Varnolt.dat").lexically_normal();
    if (!folder.empty() && FileExists(packaged)) return {packaged, own, true};
    return {{}, own.empty() ? beside : own, false};
#endif
}

bool PrepareFolderOf(const std::string& file) {
#ifdef _WIN32
    (void)file;
    return true;
#else
    // A bare file name is in the current folder, which is there already.
    const std::filesystem::path folder = std::filesystem::path(file).parent_path();
    std::error_code error;
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
    return !error;
#endif
}
