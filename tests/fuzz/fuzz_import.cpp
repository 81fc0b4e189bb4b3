// ImportText on any bytes, into an empty and into a loaded directory: the
// directory then saves, loads back, and finds the start of every item.
#include <cstdint>
#include <string>

#include "directory/directory.h"
#include "directory/lookup_memory.h"
#include "exchange/text_exchange.h"
#include "fuzz_support.h"

namespace {

void CheckDirectory() {
    const DirectoryHeader& h = directory.header;
    for (uint32_t i = 0; i < h.itemCount; ++i) {
        const uint32_t start = ItemStart(&directory.items[i]);
        const RangeItem* item = LookupNumber(start);
        FUZZ_CHECK(start == 0 || (item && ItemStart(item) == start));
    }
    const std::u16string saved = FuzzPath(u"import-saved.dat");
    if (h.itemCount == 0) return;
    FUZZ_CHECK(SaveDirectory(saved.c_str()));
    const DirectoryHeader before = h;
    ClearDirectory();
    FUZZ_CHECK(LoadDirectory(saved.c_str()));
    FUZZ_CHECK(directory.header.itemCount == before.itemCount && directory.header.numberCount == before.numberCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string text = FuzzPath(u"import.txt");
    WriteBytes(text, Bytes(data, data + size));

    ClearDirectory();
    ImportText(text.c_str());
    CheckDirectory();

    ClearDirectory();
    FUZZ_CHECK(LoadDirectory(u"" VARNOLT_TEST_DATA "/example.dat"));  // saved elsewhere, never over it
    ImportText(text.c_str());
    CheckDirectory();
    return 0;
}
