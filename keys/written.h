// Numbers as people write them: the number read out of the text that holds it.
#pragma once

#include <cstddef>
#include <cstdint>

enum NumberKind : uint8_t {
    kNoNumber,       // the text gives no key: no digits, too few, or a non-digit among them
    kChineseNumber,  // a number of country code 86, or one dialled within China
    kForeignNumber,  // another country's number: a code other than 86 after + or 00
};

struct WrittenNumber {
    NumberKind kind;
    uint32_t key;  // DeriveNumberKey of the dialled form; 0 unless kind is kChineseNumber
};

// Reads the number in `text`, as contacts, web pages, signatures and chats
// write it, and rewrites `text` in place into what it read: a Chinese
// number's digits as dialled, "+" and a foreign number's digits, or nothing.
//
// Whatever stands before the first digit (or a + right before one) is
// skipped; the number ends at the first unit that is neither a digit nor a
// separator between two digits (an extension, a comma, a letter, the end).
// Fullwidth digits count as digits. A country code 86 (+86, 0086, or 86
// before a whole national number) is dropped and a fixed line's trunk 0 put
// back. The key is made only of digits the text holds, in their order, and
// the text never grows, so reading the result again gives the same.
WrittenNumber ReadWrittenNumber(char16_t* text);

// The same reading of `length` bytes of UTF-8, where they stand: a NUL ends
// the text, and a malformed sequence is a character that is neither digit
// nor separator, as U+FFFD would be. Gives what ReadWrittenNumber gives for
// the text widened to UTF-16, and writes nothing.
WrittenNumber ReadWrittenNumber(const char* text, size_t length);
