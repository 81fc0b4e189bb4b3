// vnlt serve: what the service reads from a request itself: the framing
// checks Boost.Beast leaves to its user, the target, the query string and
// the media type.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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
