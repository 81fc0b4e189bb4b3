// vnlt serve: the framing checks, the query string and the batch body.
#include "serve/serve_request.h"

#include <cctype>
#include <nlohmann/json.hpp>

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

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

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

// Accepts exactly one array of strings and only counts them: a batch of a
// million numbers never becomes a document tree.
class BatchSax : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit BatchSax(BatchCheck* batchOut) : batch(batchOut) {}

    bool string(string_t& text) override {
        if (depth != 1) return Refuse(BatchError::kNotStrings);
        if (batch->count == kMaxBatchNumbers) return Refuse(BatchError::kTooMany);
        if (text.size() > kMaxNumberBytes) return Refuse(BatchError::kTooLong, batch->count + 1);
        ++batch->count;
        return true;
    }
    bool start_array(std::size_t) override {
        if (depth != 0) return Refuse(BatchError::kNotStrings);
        ++depth;
        return true;
    }
    bool end_array() override {
        --depth;
        return true;
    }
    bool null() override { return Refuse(BatchError::kNotStrings); }
    bool boolean(bool) override { return Refuse(BatchError::kNotStrings); }
    bool number_integer(number_integer_t) override { return Refuse(BatchError::kNotStrings); }
    bool number_unsigned(number_unsigned_t) override { return Refuse(BatchError::kNotStrings); }
    bool number_float(number_float_t, const string_t&) override { return Refuse(BatchError::kNotStrings); }
    bool start_object(std::size_t) override { return Refuse(BatchError::kNotStrings); }
    // JSON text has no binary values, and the parse ends at an object's start.
    bool binary(binary_t&) override { return Refuse(BatchError::kNotStrings); }  // GCOVR_EXCL_LINE
    bool key(string_t&) override { return Refuse(BatchError::kNotStrings); }     // GCOVR_EXCL_LINE
    bool end_object() override { return Refuse(BatchError::kNotStrings); }       // GCOVR_EXCL_LINE
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) override {
        if (batch->error == BatchError::kNone) {
            batch->error = BatchError::kMalformed;
            batch->at = position;
        }
        return false;
    }

private:
    bool Refuse(BatchError error, size_t at = 0) {
        batch->error = error;
        batch->at = at;
        return false;
    }

    BatchCheck* batch;
    int depth = 0;
};

// The length of the well-formed UTF-8 sequence `text` begins with (RFC 3629),
// or 0: what the JSON library accepts in a string.
size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    unsigned char low = 0x80, high = 0xBF;
    size_t length = 3;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first == 0xE0) {
        low = 0xA0;
    } else if (first == 0xED) {
        high = 0x9F;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        if (first == 0xF0) low = 0x90;
        if (first == 0xF4) high = 0x8F;
    } else if (first < 0xE1 || first > 0xEF) {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

// The usual batch read fast: an array of plain strings, with no escapes,
// within the limits. False for anything else, good or bad, which the
// library then reads; it is the judge of what JSON is (the fuzz target
// holds the two to agree).
bool ReadPlainJsonBatch(std::string_view body, size_t* count) {
    size_t at = body.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    const auto skipSpace = [&] {
        while (at < body.size() && IsJsonSpace(body[at])) ++at;
    };
    const auto next = [&](char c) {
        skipSpace();
        if (at == body.size() || body[at] != c) return false;
        ++at;
        skipSpace();
        return true;
    };
    if (!next('[')) return false;
    size_t numbers = 0;
    if (!next(']')) {
        do {
            if (at == body.size() || body[at] != '"' || numbers == kMaxBatchNumbers) return false;
            const size_t start = ++at;
            while (at < body.size() && body[at] != '"') {
                const unsigned char c = static_cast<unsigned char>(body[at]);
                if (c < 0x20 || c == '\\') return false;
                const size_t length = c < 0x80 ? 1 : Utf8SequenceLength(body.substr(at));
                if (length == 0) return false;
                at += length;
            }
            if (at == body.size() || at - start > kMaxNumberBytes) return false;
            ++at;
            ++numbers;
        } while (next(','));
        if (!next(']')) return false;
    }
    if (at != body.size()) return false;
    *count = numbers;
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

BatchCheck CheckBatch(BatchFormat format, std::string_view body) {
    BatchCheck batch;
    if (format == BatchFormat::kJson) {
        if (ReadPlainJsonBatch(body, &batch.count)) return batch;
        // The parser takes a NUL for the end of the text; JSON never holds one.
        if (const size_t nul = body.find('\0'); nul != std::string_view::npos) {
            batch.error = BatchError::kMalformed;
            batch.at = nul + 1;
            return batch;
        }
        BatchSax sax(&batch);
        const bool whole = nlohmann::json::sax_parse(body.begin(), body.end(), &sax);
        if (!whole && batch.error == BatchError::kNone) batch.error = BatchError::kMalformed;
        return batch;
    }
    for (size_t start = 0; start < body.size();) {
        size_t end = body.find('\n', start);
        const size_t next = end == std::string_view::npos ? body.size() : end + 1;
        if (end == std::string_view::npos) end = body.size();
        if (end > start && body[end - 1] == '\r') --end;
        if (batch.count == kMaxBatchNumbers) {
            batch.error = BatchError::kTooMany;
            return batch;
        }
        if (end - start > kMaxNumberBytes) {
            batch.error = BatchError::kTooLong;
            batch.at = batch.count + 1;
            return batch;
        }
        ++batch.count;
        start = next;
    }
    return batch;
}

BatchCursor::BatchCursor(BatchFormat batchFormat, std::string_view batchBody) : format(batchFormat), body(batchBody) {
    // Only a byte order mark and white space come before the array's start.
    if (format == BatchFormat::kJson) at = body.find('[') + 1;
}

bool BatchCursor::Next(std::string_view* number) {
    if (format == BatchFormat::kLines) {
        if (at >= body.size()) return false;
        size_t end = body.find('\n', at);
        const size_t next = end == std::string_view::npos ? body.size() : end + 1;
        if (end == std::string_view::npos) end = body.size();
        if (end > at && body[end - 1] == '\r') --end;
        *number = body.substr(at, end - at);
        at = next;
        return true;
    }
    while (at < body.size() && (IsJsonSpace(body[at]) || body[at] == ',')) ++at;
    if (at >= body.size() || body[at] != '"') return false;
    size_t end = at + 1;
    bool escaped = false;
    for (; body[end] != '"'; ++end) {
        if (body[end] == '\\') {
            escaped = true;
            ++end;
        }
    }
    if (escaped) {
        // Rare in numbers: the library decodes the escapes it has checked.
        decoded = nlohmann::json::parse(body.substr(at, end + 1 - at)).get<std::string>();
        *number = decoded;
    } else {
        *number = body.substr(at + 1, end - at - 1);
    }
    at = end + 1;
    return true;
}
