// vnlt serve: the query string and the batch body.
#include "serve/serve_request.h"

#include <nlohmann/json.hpp>

namespace {

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

// Accepts exactly one array of strings, keeping each string as it comes: a
// batch of a million numbers never becomes a document tree.
class BatchSax : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit BatchSax(BatchNumbers* batchOut) : batch(batchOut) {}

    bool string(string_t& text) override {
        if (depth != 1) return Refuse(BatchError::kNotStrings);
        if (batch->numbers.size() == kMaxBatchNumbers) return Refuse(BatchError::kTooMany);
        if (text.size() > kMaxNumberBytes) return Refuse(BatchError::kTooLong, batch->numbers.size() + 1);
        batch->numbers.push_back(std::move(text));
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

    BatchNumbers* batch;
    int depth = 0;
};

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

BatchNumbers ReadJsonBatch(std::string_view body) {
    BatchNumbers batch;
    // The parser takes a NUL for the end of the text; JSON never holds one.
    if (const size_t nul = body.find('\0'); nul != std::string_view::npos) {
        batch.error = BatchError::kMalformed;
        batch.at = nul + 1;
        return batch;
    }
    BatchSax sax(&batch);
    const bool whole = nlohmann::json::sax_parse(body.begin(), body.end(), &sax);
    if (!whole && batch.error == BatchError::kNone) batch.error = BatchError::kMalformed;
    if (batch.error != BatchError::kNone) batch.numbers.clear();
    return batch;
}

BatchNumbers ReadLineBatch(std::string_view body) {
    BatchNumbers batch;
    for (size_t start = 0; start < body.size();) {
        size_t end = body.find('\n', start);
        const size_t next = end == std::string_view::npos ? body.size() : end + 1;
        if (end == std::string_view::npos) end = body.size();
        if (end > start && body[end - 1] == '\r') --end;
        if (batch.numbers.size() == kMaxBatchNumbers) {
            batch.error = BatchError::kTooMany;
            break;
        }
        if (end - start > kMaxNumberBytes) {
            batch.error = BatchError::kTooLong;
            batch.at = batch.numbers.size() + 1;
            break;
        }
        batch.numbers.emplace_back(body.substr(start, end - start));
        start = next;
    }
    if (batch.error != BatchError::kNone) batch.numbers.clear();
    return batch;
}
