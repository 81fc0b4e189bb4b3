#include "ui/varnolt.h"

#include <commctrl.h>

#include "directory/directory.h"
#include "keys/number_key.h"
#include "platform/platform.h"

HINSTANCE appInstance = nullptr;
wchar_t directoryPath[kPathUnits] = {};
bool modifiedFlag = false;

namespace {

char16_t* U(wchar_t* text) { return reinterpret_cast<char16_t*>(text); }

void FindDirectoryFile() {
    char16_t modulePath[kPathUnits];
    if (GetModulePath(modulePath, kPathUnits) == 0 || !BuildDirectoryPath(modulePath, U(directoryPath)))
        directoryPath[0] = 0;
}

}  // namespace

int RunProgram(HINSTANCE instance, const wchar_t* commandLine) {
    appInstance = instance;
    FindDirectoryFile();

    if (commandLine && commandLine[0] != 0) {
        const uint32_t key = ParseDecimalKey(reinterpret_cast<const char16_t*>(commandLine));
        wchar_t area[kLookupNameUnits], type[kLookupNameUnits];
        if (directoryPath[0] != 0 && LookupNumberInFile(U(directoryPath), key, U(area), U(type)))
            return MessageBoxW(nullptr, area, type, MB_ICONINFORMATION);
    }

    if (directoryPath[0] != 0) LoadDirectory(U(directoryPath));
    InitCommonControls();
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    if (!modifiedFlag) return 0;

    wchar_t message[80];
    LoadStringW(appInstance, IDS_SAVE_PROMPT, message, 80);
    if (MessageBoxW(nullptr, message, L"Varnolt", MB_ICONQUESTION | MB_YESNO) == IDYES &&
        (directoryPath[0] == 0 || !SaveDirectory(U(directoryPath)))) {
        LoadStringW(appInstance, IDS_SAVE_FAILED, message, 80);
        MessageBoxW(nullptr, message, L"Varnolt", MB_ICONERROR);
    }
    return 0;
}
