// vnlt serve: the framing checks, the query string and the media type.
#include "serve/serve_request.h"

#include <cctype>

namespace {

bool IEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view TrimSpace(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool PercentDecode(std::string_view text, std::string* out) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            *out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) return false;
            *out += static_cast<char>(high << 4 | low);
            i += 2;
        } else {
            *out += c;
        }
    }
    return true;
}

}  // namespace

bool FindQueryParameter(std::string_view query, std::string_view name, std::string* value) {
    for (size_t start = 0; start <= query.size();) {
        size_t end = query.find('&', start);
        if (end == std::string_view::npos) end = query.size();
        const std::string_view pair = query.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name)
            return PercentDecode(equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1),
                                 value);
        start = end + 1;
    }
    return false;
}

void SplitTarget(std::string_view target, std::string_view* path, std::string_view* query) {
    target = target.substr(0, target.find('#'));
    const size_t scheme = target.find("://");
    if (scheme != std::string_view::npos && target.find_first_of("/?") > scheme) {
        const size_t start = target.find_first_of("/?", scheme + 3);
        target = start == std::string_view::npos ? std::string_view("/") : target.substr(start);
    }
    const size_t mark = target.find('?');
    *path = target.substr(0, mark);
    *query = mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
}

size_t FindHeadEnd(std::string_view data, size_t* start) {
    size_t first = 0;
    while (first < data.size() && (data[first] == '\r' || data[first] == '\n')) ++first;
    *start = first;
    for (size_t at = data.find('\n', first); at != std::string_view::npos; at = data.find('\n', at + 1)) {
        if (at + 1 < data.size() && data[at + 1] == '\n') return at + 2;
        if (at + 2 < data.size() && data[at + 1] == '\r' && data[at + 2] == '\n') return at + 3;
    }
    return std::string_view::npos;
}

const char* CheckHead(std::string_view head) {
    size_t at = head.find('\n');
    std::string_view requestLine = head.substr(0, at);
    if (!requestLine.empty() && requestLine.back() == '\r') requestLine.remove_suffix(1);
    const bool http10 = requestLine.size() >= 8 && requestLine.substr(requestLine.size() - 8) == "HTTP/1.0";
    unsigned encodings = 0;
    bool chunked = false, sized = false;
    while (at != std::string_view::npos && ++at < head.size()) {
        const size_t end = head.find('\n', at);
        std::string_view line = head.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        at = end;
        if (line.empty()) break;
        if (line[0] == ' ' || line[0] == '\t') return "a folded header line";
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;  // Beast refuses it
        const std::string_view name = line.substr(0, colon);
        if (name.find_first_of(" \t") != std::string_view::npos) return "white space before a header's colon";
        if (IEquals(name, "transfer-encoding")) {
            ++encodings;
            chunked = IEquals(TrimSpace(line.substr(colon + 1)), "chunked");
        } else if (IEquals(name, "content-length")) {
            sized = true;
        }
    }
    if (encodings == 0) return nullptr;
    if (encodings > 1 || !chunked) return "a Transfer-Encoding other than chunked";
    if (sized) return "both Transfer-Encoding and Content-Length";
    if (http10) return "Transfer-Encoding in HTTP/1.0";
    return nullptr;
}

bool MediaTypeIs(std::string_view contentType, std::string_view type) {
    return IEquals(TrimSpace(contentType.substr(0, contentType.find(';'))), type);
}
