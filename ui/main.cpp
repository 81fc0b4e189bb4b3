#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "directory/directory.h"
#include "keys/number_key.h"
#include "platform/platform.h"
#include "ui/startup.h"
#include "ui/varnolt.h"

HINSTANCE appInstance = nullptr;
wchar_t directoryPath[kPathUnits] = {};

namespace {

char16_t* U(wchar_t* text) { return reinterpret_cast<char16_t*>(text); }

void FindDirectoryFile() {
    char16_t modulePath[kPathUnits];
    if (GetModulePath(modulePath, kPathUnits) == 0 || !BuildDirectoryPath(modulePath, U(directoryPath)))
        directoryPath[0] = 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    appInstance = instance;
    FindDirectoryFile();

    if (commandLine && commandLine[0] != 0) {
        const uint32_t key = ParseDecimalKey(reinterpret_cast<const char16_t*>(commandLine));
        wchar_t area[kLookupNameUnits], type[kLookupNameUnits];
        if (directoryPath[0] != 0 && LookupNumberInFile(U(directoryPath), key, U(area), U(type)))
            return MessageBoxW(nullptr, area, type, MB_ICONINFORMATION);
    }

    // The main window comes here.
    return 0;
}
