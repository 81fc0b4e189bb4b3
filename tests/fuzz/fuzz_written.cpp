// The keys' readers on any UTF-16 text in a buffer of exactly its size, so
// that a read past the terminator is outside it. ReadWrittenNumber writes
// what tests/written_checks.h asks of it, and the same bytes read as UTF-8
// give what their widening to UTF-16 gives.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "base/utf8.h"
#include "keys/decimal.h"
#include "keys/derive.h"
#include "keys/written.h"
#include "tests/written_checks.h"

namespace {

bool Alike(WrittenNumber a, WrittenNumber b) { return a.kind == b.kind && a.key == b.key; }

// `bytes` as UTF-8 where they stand, beside their widening.
bool Utf8ReadsAsWidened(const char* bytes, size_t size) {
    std::unique_ptr<char[]> exact(new char[size]);
    std::memcpy(exact.get(), bytes, size);
    std::u16string wide = Utf8ToUtf16(bytes, size);
    return Alike(ReadWrittenNumber(exact.get(), size), ReadWrittenNumber(wide.data()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!Utf8ReadsAsWidened(reinterpret_cast<const char*>(data), size)) __builtin_trap();
    const size_t units = size / 2;
    std::unique_ptr<char16_t[]> text(new char16_t[units + 1]);
    std::memcpy(text.get(), data, 2 * units);
    text[units] = 0;
    volatile int32_t key = DeriveNumberKey(text.get());
    volatile uint32_t decimal = ParseDecimalKey(text.get());
    (void)key, (void)decimal;
    if (WrittenFault(std::u16string(text.get()))) __builtin_trap();
    return 0;
}
