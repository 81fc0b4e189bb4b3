// A directory file of any content: load it, look up around every item, show
// the statistics, export, edit, save and load again.
#include <unistd.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "directory/add.h"
#include "directory/directory.h"
#include "directory/lookup_file.h"
#include "directory/lookup_memory.h"
#include "exchange/text_exchange.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string path = FuzzPath(u"directory.dat");
    WriteBytes(path, Bytes(data, data + size));
    ClearDirectory();
    if (!LoadDirectory(path.c_str())) return 0;

    const DirectoryHeader& h = directory.header;
    // Starts unique and in order: the two lookups must agree on every key.
    bool comparable = true;
    for (uint32_t i = 1; i < h.itemCount && comparable; ++i)
        comparable = ItemStart(&directory.items[i - 1]) < ItemStart(&directory.items[i]);
    for (uint32_t i = 0; i < h.itemCount && i < 512; ++i) {
        const ItemFields f = DecodeItem(&directory.items[i]);
        for (uint32_t key : {f.start - 1, f.start, f.start + f.span, f.start + f.span + 1}) {
            const RangeItem* item = LookupNumber(key);
            char16_t area[kLookupNameUnits], type[kLookupNameUnits];
            const bool inFile = LookupNumberInFile(path.c_str(), key, area, type);
            if (item) {
                // The names are read in place: they must end inside their pools.
                FUZZ_CHECK(std::char_traits<char16_t>::length(AreaName(item)) < h.areaPoolLength);
                FUZZ_CHECK(std::char_traits<char16_t>::length(TypeName(item)) < h.typePoolLength);
            }
            // Beyond 22 bits the in-memory search uses the key's low bits and
            // the in-file one the whole key, so they rightly differ there.
            if (comparable && key <= kMaxKey) {
                FUZZ_CHECK(inFile == (item != nullptr));
                if (item && inFile) {
                    FUZZ_CHECK(std::u16string(AreaName(item)).substr(0, kLookupNameUnits - 1) == area);
                    FUZZ_CHECK(std::u16string(TypeName(item)).substr(0, kLookupNameUnits - 1) == type);
                }
            }
        }
    }
    volatile uint32_t total = DirectoryFileSize(h);
    (void)total;
    ExportText(FuzzPath(u"export.txt").c_str());

    if (MakeDirectoryEditable()) {
        AddEntry(u"1391234", u"江苏 南京", u"中国移动");
        AddEntry(u"1391235", u"江苏 南京", u"中国移动");
        AddEntry(u"755", u"", u"固定电话");
        SortItems();
    }
    const std::u16string saved = FuzzPath(u"saved.dat"), again = FuzzPath(u"again.dat");
    if (SaveDirectory(saved.c_str())) {
        ClearDirectory();
        FUZZ_CHECK(LoadDirectory(saved.c_str()));
        FUZZ_CHECK(SaveDirectory(again.c_str()));
        FUZZ_CHECK(ReadBytes(saved) == ReadBytes(again));
    }
    return 0;
}
