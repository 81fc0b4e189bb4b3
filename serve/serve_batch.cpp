// vnlt serve: a batch's body checked, and its reply made a piece at a time.
#include "serve/serve_batch.h"

#include <nlohmann/json.hpp>

#include "answer/delimited.h"
#include "serve/serve_snapshot.h"

namespace {

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

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
bool ReadPlainJsonBatch(std::string_view body, size_t* count, std::vector<size_t>* starts) {
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
            if (numbers % kPieceNumbers == 0) starts->push_back(at);
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

// Where the next number begins, after white space and commas; the body's
// end when none does.
size_t NextJsonNumber(std::string_view body, size_t at) {
    while (at < body.size() && (IsJsonSpace(body[at]) || body[at] == ',')) ++at;
    return at;
}

}  // namespace

BatchCheck CheckBatch(BatchFormat format, std::string_view body) {
    BatchCheck batch;
    if (format == BatchFormat::kJson) {
        if (ReadPlainJsonBatch(body, &batch.count, &batch.pieceStarts)) return batch;
        batch.pieceStarts.clear();
        // The parser takes a NUL for the end of the text; JSON never holds one.
        if (const size_t nul = body.find('\0'); nul != std::string_view::npos) {
            batch.error = BatchError::kMalformed;
            batch.at = nul + 1;
            return batch;
        }
        BatchSax sax(&batch);
        const bool whole = nlohmann::json::sax_parse(body.begin(), body.end(), &sax);
        if (!whole && batch.error == BatchError::kNone) batch.error = BatchError::kMalformed;
        if (batch.error != BatchError::kNone) return batch;
        // Escapes, found good: rare in numbers, and walked once more.
        BatchCursor cursor(format, body);
        std::string_view number;
        for (size_t i = 0, at = cursor.Position(); cursor.Next(&number); ++i, at = cursor.Position())
            if (i % kPieceNumbers == 0) batch.pieceStarts.push_back(at);
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
        if (batch.count % kPieceNumbers == 0) batch.pieceStarts.push_back(start);
        ++batch.count;
        start = next;
    }
    return batch;
}

BatchCursor::BatchCursor(BatchFormat batchFormat, std::string_view batchBody, size_t from)
    : format(batchFormat), body(batchBody), at(from) {
    // Only a byte order mark and white space come before the array's start.
    if (at == std::string_view::npos) at = format == BatchFormat::kJson ? body.find('[') + 1 : 0;
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
    at = NextJsonNumber(body, at);
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

std::string BatchErrorText(BatchError error) {
    switch (error) {
        case BatchError::kMalformed:
            return "malformed JSON";
        case BatchError::kNotStrings:
            return "the body must be a JSON array of strings";
        case BatchError::kTooMany:
            return "more than " + std::to_string(kMaxBatchNumbers) + " numbers";
        case BatchError::kTooLong:
            return "number longer than " + std::to_string(kMaxNumberBytes) + " bytes";
        // Asked only of a refused batch. GCOVR_EXCL_START
        case BatchError::kNone:
            break;
    }
    return "";
    // GCOVR_EXCL_STOP
}

size_t MakePiece(Batch& batch, size_t index) {
    const Answerer& answerer = batch.snapshot->opened->answerer;
    BatchCursor cursor(batch.format, batch.body,
                       index < batch.check.pieceStarts.size() ? batch.check.pieceStarts[index] : batch.body.size());
    std::string& piece = batch.pieces[index % kPiecesAhead];
    piece.clear();
    std::string_view number;
    size_t made = 0;
    for (; made < kPieceNumbers && cursor.Next(&number); ++made) {
        piece += made || index ? ",{" : "[{";
        AppendJsonAnswer(piece, number, answerer.Ask(number));
    }
    if (index == 0 && made == 0) piece += '[';
    if (index + 1 == batch.pieceCount) piece += ']';
    return made;
}
