// DeriveNumberKey and ParseDecimalKey on any UTF-16 text in a buffer of
// exactly its size, so a read past the terminator is outside it.
#include <cstdint>
#include <cstring>
#include <memory>

#include "keys/decimal.h"
#include "keys/derive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t units = size / 2;
    std::unique_ptr<char16_t[]> text(new char16_t[units + 1]);
    std::memcpy(text.get(), data, 2 * units);
    text[units] = 0;
    volatile int32_t key = DeriveNumberKey(text.get());
    (void)key;
    volatile uint32_t decimal = ParseDecimalKey(text.get());
    (void)decimal;
    return 0;
}
