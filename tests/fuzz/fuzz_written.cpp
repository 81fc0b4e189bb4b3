// The keys' readers on any UTF-16 text in a buffer of exactly its size, so
// that a read past the terminator is outside it. ReadWrittenNumber writes
// no more than it read, and reading what it wrote changes nothing. The same
// bytes read as UTF-8 give what their widening to UTF-16 gives, and the
// UTF-16 text gives what its UTF-8 form gives.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "base/utf8.h"
#include "keys/decimal.h"
#include "keys/derive.h"
#include "keys/written.h"

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
    const size_t before = std::char_traits<char16_t>::length(text.get());
    const std::string utf8 = Utf16ToUtf8(text.get());
    const WrittenNumber first = ReadWrittenNumber(text.get());
    if (!Alike(ReadWrittenNumber(utf8.data(), utf8.size()), first)) __builtin_trap();
    const std::u16string written(text.get());
    if (written.size() > before) __builtin_trap();
    if ((first.kind == kChineseNumber) != (first.key != 0)) __builtin_trap();
    // The key is the dialled digits' own, and never the terminator's (02).
    if (first.kind == kChineseNumber) {
        if (written.size() < 3 || first.key != static_cast<uint32_t>(DeriveNumberKey(written.c_str())))
            __builtin_trap();
        for (char16_t c : written)
            if (c < u'0' || c > u'9') __builtin_trap();
    }

    std::unique_ptr<char16_t[]> again(new char16_t[written.size() + 1]);
    std::memcpy(again.get(), written.c_str(), 2 * (written.size() + 1));
    const WrittenNumber second = ReadWrittenNumber(again.get());
    if (second.kind != first.kind || second.key != first.key || written != again.get()) __builtin_trap();
    return 0;
}
