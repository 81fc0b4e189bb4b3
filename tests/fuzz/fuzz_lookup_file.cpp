// LookupNumberInFile on any bytes with any key: no byte from outside the
// file is used, the buffers stay untouched when nothing is found, and names
// always end within 80 units.
#include <cstdint>
#include <cstring>
#include <string>

#include "directory/directory.h"
#include "directory/lookup_file.h"
#include "fuzz_support.h"
#include "platform/platform.h"
#include "platform/platform_seams.h"

namespace {

uint64_t fileSize;
bool readPastEnd;

void WatchRead(void*, uint64_t position, uint32_t length) {
    if (position + length > fileSize) readPastEnd = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    uint32_t key;
    std::memcpy(&key, data, 4);
    const std::u16string path = FuzzPath(u"lookup.dat");
    WriteBytes(path, Bytes(data + 4, data + size));
    fileSize = size - 4;
    readPastEnd = false;

    char16_t area[kLookupNameUnits + 4], type[kLookupNameUnits + 4];
    std::memset(area, 0x5A, sizeof area);
    std::memset(type, 0x5A, sizeof type);
    SetReadObserver(WatchRead, nullptr);
    const bool found = LookupNumberInFile(path.c_str(), key, area, (key & 1) ? nullptr : type);
    SetReadObserver(nullptr, nullptr);

    for (uint32_t i = kLookupNameUnits; i < kLookupNameUnits + 4; ++i)
        FUZZ_CHECK(area[i] == 0x5A5A && type[i] == 0x5A5A);
    if (!found) {
        for (uint32_t i = 0; i < kLookupNameUnits; ++i) FUZZ_CHECK(area[i] == 0x5A5A && type[i] == 0x5A5A);
        return 0;
    }
    // An answer was read whole from inside the file.
    FUZZ_CHECK(!readPastEnd);
    FUZZ_CHECK(std::char_traits<char16_t>::find(area, kLookupNameUnits, 0) != nullptr);
    if (!(key & 1)) FUZZ_CHECK(std::char_traits<char16_t>::find(type, kLookupNameUnits, 0) != nullptr);
    return 0;
}
