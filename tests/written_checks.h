// What holds of ReadWrittenNumber on any text: one home for the unit test's
// random texts and the fuzz target's inputs. Each read is from a buffer of
// exactly the text's size, so a read past its end lands outside it.
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "base/utf8.h"
#include "keys/derive.h"
#include "keys/written.h"

// Reads `text` into `number` and `rewritten`; the UTF-8 reading must agree.
inline bool ReadAlike(const std::u16string& text, WrittenNumber* number, std::u16string* rewritten) {
    std::unique_ptr<char16_t[]> copy(new char16_t[text.size() + 1]());
    std::copy(text.begin(), text.end(), copy.get());
    *number = ReadWrittenNumber(copy.get());
    *rewritten = copy.get();
    const std::string utf8 = Utf16ToUtf8(text.data(), text.size());
    std::unique_ptr<char[]> exact(new char[utf8.size()]);
    std::copy(utf8.begin(), utf8.end(), exact.get());
    const WrittenNumber fromUtf8 = ReadWrittenNumber(exact.get(), utf8.size());
    return fromUtf8.kind == number->kind && fromUtf8.key == number->key;
}

// The first property the reading of `text` breaks, or null. A key is made
// only of digits the text holds, in their order, never of a separator's or a
// letter's code; what was rewritten reads as the same number and into itself.
inline const char* WrittenFault(const std::u16string& text, WrittenNumber* out = nullptr) {
    WrittenNumber number, again;
    std::u16string rewritten, twice, digits;
    if (!ReadAlike(text, &number, &rewritten) || !ReadAlike(rewritten, &again, &twice))
        return "the UTF-8 reading differs";
    if (out) *out = number;
    if (rewritten.size() > text.size()) return "rewritten longer than it was";
    if (again.kind != number.kind || again.key != number.key || twice != rewritten) return "reads again otherwise";
    for (char16_t c : text)
        if ((c >= u'0' && c <= u'9') || (c >= 0xFF10 && c <= 0xFF19)) digits += c >= 0xFF10 ? c - 0xFF10 + u'0' : c;
    if (number.kind != kChineseNumber) {
        // A foreign number keeps its digits after the +; no number keeps nothing.
        const bool kept = number.kind == kForeignNumber
                              ? rewritten[0] == u'+' && digits.find(rewritten.substr(1)) != std::u16string::npos
                              : rewritten.empty();
        return number.key != 0 ? "a key without a number" : kept ? nullptr : "not the text's digits";
    }
    if (rewritten.find_first_not_of(u"0123456789") != std::u16string::npos) return "not only digits";
    // The digits as they stand, or after 86 with the trunk 0 put back.
    if (digits.find(rewritten) == std::u16string::npos &&
        !(rewritten[0] == u'0' && digits.find(u"86" + rewritten.substr(1)) != std::u16string::npos))
        return "not the text's digits";
    // At least three digits: the terminator never takes a digit's place (02).
    if (rewritten.size() < 3 || number.key == 0 ||
        number.key != static_cast<uint32_t>(DeriveNumberKey(rewritten.c_str())))
        return "not the key of its digits";
    return nullptr;
}
