// Where the program looks for its directory file.
#include "ui/startup.h"

bool BuildDirectoryPath(const char16_t* modulePath, char16_t* out) {
    static const char16_t kFileName[] = u"Varnolt.dat";
    out[0] = 0;
    uint32_t length = 0;
    while (modulePath[length] != 0) {
        if (length + 1 >= kPathUnits) return false;  // cut short or not terminated
        ++length;
    }
    uint32_t slash = length;
    while (slash > 0 && modulePath[slash - 1] != u'\\') --slash;
    if (slash == 0) return false;
    if (slash + sizeof kFileName / sizeof kFileName[0] > kPathUnits) return false;
    for (uint32_t i = 0; i < slash; ++i) out[i] = modulePath[i];
    for (uint32_t i = 0; i < sizeof kFileName / sizeof kFileName[0]; ++i) out[slash + i] = kFileName[i];
    return true;
}
