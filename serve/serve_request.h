// vnlt serve: what the service reads from a request itself: the framing
// checks Boost.Beast leaves to its user, the query string, the media type
// and the batch body.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

constexpr size_t kMaxNumberBytes = 100;
constexpr size_t kMaxBatchNumbers = 1000000;

// Where the head (request line and header lines, with the empty line that
// ends them) ends in `data`, or npos while it is incomplete. `*start` is set
// to where the request line begins: empty lines before it are skipped, as
// RFC 9112 asks of a server.
size_t FindHeadEnd(std::string_view data, size_t* start);

// Null when the head is framed unambiguously; otherwise why it is refused: a
// folded header line, white space before a field's colon, or a
// Transfer-Encoding other than exactly `chunked` in HTTP/1.1 without a
// Content-Length. These are the forms by which a request hides another.
const char* CheckHead(std::string_view head);

// Whether a Content-Type value names `type` ("text/plain"), compared without
// regard to case, its parameters ignored.
bool MediaTypeIs(std::string_view contentType, std::string_view type);

// The value of parameter `name` in a query string (the part after '?'),
// percent-decoded, '+' read as a space; the first one when it is repeated.
// False when it is absent or its escapes are malformed.
bool FindQueryParameter(std::string_view query, std::string_view name, std::string* value);

// The path and the query (after '?') of a request target, in origin form or
// in absolute form (`http://host/path?query`), which a server must accept;
// a fragment (`#...`) is part of neither.
void SplitTarget(std::string_view target, std::string_view* path, std::string_view* query);

enum class BatchFormat { kJson, kLines };
enum class BatchError { kNone, kMalformed, kNotStrings, kTooMany, kTooLong };

struct BatchCheck {
    BatchError error = BatchError::kNone;
    size_t at = 0;     // the 1-based position of the number or the byte the error is about
    size_t count = 0;  // the numbers in a good batch
};

// Reads the whole body once, keeping nothing, so that a bad batch is refused
// before any answer is sent. kJson: one JSON array of strings; anything
// else, or malformed JSON or UTF-8, is an error. kLines: one number a line
// (LF or CR LF), the last without a line end, blank ones taken too, as
// vnlt query takes them. Either way, a number longer than kMaxNumberBytes
// or more than kMaxBatchNumbers of them is an error.
BatchCheck CheckBatch(BatchFormat format, std::string_view body);

// The numbers of a body CheckBatch found good, one at a time, in order; it
// can stop and go on at any number, so a reply is made a piece at a time.
class BatchCursor {
public:
    BatchCursor(BatchFormat format, std::string_view body);
    // False after the last. `*number` stays valid until the next call.
    bool Next(std::string_view* number);

private:
    BatchFormat format;
    std::string_view body;
    size_t at = 0;
    std::string decoded;
};
