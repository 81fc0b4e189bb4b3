// The web page's files by path, each with its type and the headers that keep
// the page to its own files.
#include "serve/web_files.h"

namespace {

// Only the page's own files and its own service: no inline script or style,
// no other origin, no frame around it.
constexpr std::string_view kPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

const char* TypeOf(std::string_view path) {
    struct Type {
        std::string_view extension;
        const char* type;
    };
    static constexpr Type kTypes[] = {{".html", "text/html; charset=utf-8"},
                                      {".js", "text/javascript; charset=utf-8"},
                                      {".css", "text/css; charset=utf-8"},
                                      {".svg", "image/svg+xml"},
                                      {".png", "image/png"}};
    for (const Type& t : kTypes)
        if (path.ends_with(t.extension)) return t.type;
    return "text/plain; charset=utf-8";
}

// If-None-Match holds one tag, a list of them, or "*".
bool Matches(std::string_view ifNoneMatch, std::string_view etag) {
    if (ifNoneMatch == "*") return true;
    for (size_t at = ifNoneMatch.find(etag); at != std::string_view::npos; at = ifNoneMatch.find(etag, at + 1)) {
        const size_t end = at + etag.size();
        if (end == ifNoneMatch.size() || ifNoneMatch[end] == ',' || ifNoneMatch[end] == ' ') return true;
    }
    return false;
}

}  // namespace

bool AnswerWebFile(std::string_view path, std::string_view ifNoneMatch, WebReply* reply) {
    if (path == "/") path = "/index.html";
    for (size_t i = 0; i < kEmbeddedFileCount; ++i) {
        const EmbeddedFile& file = kEmbeddedFiles[i];
        if (path != file.path) continue;
        const bool current = !ifNoneMatch.empty() && Matches(ifNoneMatch, file.etag);
        WebReply made;
        made.status = current ? 304 : 200;
        if (!current) made.body = {reinterpret_cast<const char*>(file.bytes), file.size};
        // Revalidated on each use: a new vnlt never serves the old page.
        made.type = TypeOf(path);
        made.headers[0] = {"ETag", file.etag};
        made.headers[1] = {"Cache-Control", "no-cache"};
        made.headers[2] = {"Content-Security-Policy", kPolicy};
        made.headers[3] = {"X-Content-Type-Options", "nosniff"};
        made.headers[4] = {"X-Frame-Options", "DENY"};
        made.headers[5] = {"Referrer-Policy", "no-referrer"};
        made.headerCount = 6;
        *reply = made;
        return true;
    }
    return false;
}
