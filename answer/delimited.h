// CSV and TSV rows (RFC 4180 quoting) and JSON strings, for vnlt's lists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Reads one row starting at `*at` in `text`, separated by `separator`: fields
// in double quotes may hold the separator, quotes doubled and line ends; a
// row ends at LF, CR LF or CR outside quotes. Moves `*at` past the row's line
// end; false at the end of the text.
bool ReadRow(std::string_view text, size_t* at, char separator, std::vector<std::string>* fields);

// Appends `field`, in double quotes with its quotes doubled when it holds
// the separator, a quote, CR or LF.
void AppendField(std::string& out, std::string_view field, char separator);

// Appends `text` as the body of a JSON string: quote, backslash and control
// characters escaped, malformed UTF-8 replaced by U+FFFD, so that each line
// stays valid JSON whatever the input held.
void AppendJsonString(std::string& out, std::string_view text);

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);
