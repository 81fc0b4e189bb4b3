// The text of vnlt's input files, in whichever encoding they came.
#pragma once

#include <string>

// Reads a whole file, or standard input when `path` is empty, as bytes.
// False when the file cannot be read.
bool ReadAllBytes(const std::string& path, std::string* bytes);

// Turns a text file's bytes into UTF-8, telling UTF-16 from narrow text as
// the import does (DecideTextEncoding); narrow text is UTF-8 with its mark
// EF BB BF, or recognised by being well-formed, else the ANSI code page (GBK
// on a Chinese Windows; code page 936 elsewhere).
std::string DecodeToUtf8(std::string bytes);
