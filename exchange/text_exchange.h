// Text exchange: importing tab-separated text files into the directory and
// exporting the directory as tab-separated UTF-16LE text.
#pragma once

#include <cstdint>

// How a text file of `size` bytes (2 or more) is encoded, told from its
// first two bytes: UTF-16LE with the mark FF FE, or without it (a zero second
// byte); an odd size is never UTF-16. Anything else is narrow text: ANSI.
enum class TextEncoding { kUtf16WithMark, kUtf16, kAnsi };
TextEncoding DecideTextEncoding(uint64_t size, const uint8_t* first);

// Reads a text file as UTF-16 in the encoding DecideTextEncoding tells; ANSI
// text is converted from the system's code page. The text ends at its first
// NUL. Null when the file cannot be opened, is shorter
// than 2 bytes, or is too large to hold; the caller releases the text with
// ReleaseBlock.
char16_t* ReadTextFile(const char16_t* path);

// Adds every "key TAB area TAB type" line of the file to the directory and
// sorts it. 1 when the whole text was read; 0 when the file could not be
// read or a line failed to add (the lines before it stay).
int ImportText(const char16_t* path);

// Writes one "key TAB area TAB type CR LF" line per key the directory covers,
// in UTF-16LE after the mark FF FE. 1 when every byte was written; 0 for an
// empty directory (no file is made), a file that cannot be created, or a
// failed write (the incomplete file is removed).
int ExportText(const char16_t* path);
