// The web page's files, built into vnlt: each found by its path, with the
// headers it is sent with.
#pragma once

#include <cstddef>
#include <string_view>

// One file as the build embedded it (serve/web/, by cmake/embed_files.cmake).
struct EmbeddedFile {
    const char* path;  // "/app.js"; the page itself is "/index.html"
    const unsigned char* bytes;
    size_t size;
    const char* etag;  // quoted, from the file's SHA-256
};
extern const EmbeddedFile kEmbeddedFiles[];
extern const size_t kEmbeddedFileCount;

struct WebHeader {
    const char* name;
    std::string_view value;
};

// A GET or HEAD of one of the page's files: status 200 with the file, or 304
// when the client's copy is current (an empty body then).
struct WebReply {
    unsigned status = 0;
    std::string_view body;
    const char* type = nullptr;  // its Content-Type
    WebHeader headers[6];
    size_t headerCount = 0;
};

// The reply for `path` ("/" is the page), given the request's If-None-Match;
// false, and `*reply` untouched, when no file of the page lives there.
bool AnswerWebFile(std::string_view path, std::string_view ifNoneMatch, WebReply* reply);
