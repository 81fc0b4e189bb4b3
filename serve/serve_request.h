// vnlt serve: what the service reads from a request itself, the query string
// and the batch body; the HTTP framing is the library's.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

constexpr size_t kMaxNumberBytes = 100;
constexpr size_t kMaxBatchNumbers = 1000000;

// The value of parameter `name` in a query string (the part after '?'),
// percent-decoded, '+' read as a space; the first one when it is repeated.
// False when it is absent or its escapes are malformed.
bool FindQueryParameter(std::string_view query, std::string_view name, std::string* value);

enum class BatchError { kNone, kMalformed, kNotStrings, kTooMany, kTooLong };

struct BatchNumbers {
    std::vector<std::string> numbers;
    BatchError error = BatchError::kNone;
    size_t at = 0;  // the 1-based position of the number or the byte the error is about
};

// A JSON array of strings. Anything else, or malformed JSON or UTF-8, is an
// error; so is a string longer than kMaxNumberBytes, or more than
// kMaxBatchNumbers of them.
BatchNumbers ReadJsonBatch(std::string_view body);
// One number a line (LF or CR LF); the last line needs no line end. Lines
// are taken as they are, blank ones too, as vnlt query takes them.
BatchNumbers ReadLineBatch(std::string_view body);
