// DeriveNumberKey and NormaliseWrittenNumber on any UTF-16 text in a buffer of
// exactly its size, so a read or write past the terminator is outside it.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "keys/decimal.h"
#include "keys/derive.h"
#include "keys/normalise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t units = size / 2;
    std::unique_ptr<char16_t[]> text(new char16_t[units + 1]);
    std::memcpy(text.get(), data, 2 * units);
    text[units] = 0;
    volatile int32_t key = DeriveNumberKey(text.get());
    (void)key;
    volatile uint32_t decimal = ParseDecimalKey(text.get());
    (void)decimal;
    const size_t before = std::char_traits<char16_t>::length(text.get());
    NormaliseWrittenNumber(text.get());
    if (std::char_traits<char16_t>::length(text.get()) > before) __builtin_trap();  // it never grows
    key = DeriveNumberKey(text.get());
    return 0;
}
