// vnlt serve's reading of a request: the head's framing, the query string, the
// media type, both batch bodies and a chunked body fed as a connection feeds
// it. The first byte picks the reader. A batch found good is read again by
// the cursor, which must give the numbers the JSON library gives, within the
// limits, and from each piece's start the numbers of that piece.
#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "serve/serve_batch.h"
#include "serve/serve_limits.h"
#include "serve/serve_reader.h"
#include "serve/serve_request.h"

namespace {

void ReadBatch(BatchFormat format, std::string_view body) {
    const BatchCheck check = CheckBatch(format, body);
    if (check.count > kMaxBatchNumbers) __builtin_trap();
    if (check.error != BatchError::kNone) return;
    nlohmann::json whole;
    if (format == BatchFormat::kJson) whole = nlohmann::json::parse(body.begin(), body.end());
    BatchCursor cursor(format, body);
    std::string_view number;
    size_t count = 0;
    while (cursor.Next(&number)) {
        if (number.size() > kMaxNumberBytes) __builtin_trap();
        if (format == BatchFormat::kJson && whole.at(count).get_ref<const std::string&>() != number) __builtin_trap();
        ++count;
    }
    if (count != check.count) __builtin_trap();
    for (size_t piece = 0; piece < check.pieceStarts.size(); ++piece) {
        BatchCursor from(format, body, check.pieceStarts[piece]);
        if (!from.Next(&number)) __builtin_trap();
        if (format == BatchFormat::kJson && whole.at(piece * kPieceNumbers).get_ref<const std::string&>() != number)
            __builtin_trap();
    }
}

// A chunked body, `\xff N` standing for N * 128 bytes of 'a' so that short
// inputs reach the limits, fed in reads of at most kReadSize as a connection
// reads it, the buffer bounded.
void FeedChunked(std::string_view text) {
    std::string body;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\xff' && i + 1 < text.size())
            body.append(static_cast<unsigned char>(text[++i]) * size_t{128}, 'a');
        else
            body += text[i];
    }
    RequestReader reader;
    if (reader.Head("POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n") != RequestReader::Step::kDone)
        __builtin_trap();
    reader.LimitBody(kBodyLimit, true);
    boost::beast::flat_buffer buffer(kReadBufferLimit);
    for (size_t at = 0;;) {
        const size_t n = std::min({kReadSize, buffer.max_size() - buffer.size(), body.size() - at});
        boost::asio::buffer_copy(buffer.prepare(n), boost::asio::buffer(body.data() + at, n));
        buffer.commit(n);
        at += n;
        const RequestReader::Step step = reader.Body(buffer);
        // Asked for more, the buffer must have room for it, or a connection would spin.
        if (step == RequestReader::Step::kMore && buffer.size() >= buffer.max_size()) __builtin_trap();
        if (step != RequestReader::Step::kMore || at == body.size()) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 6) {
        case 0: {
            std::string value;
            if (FindQueryParameter(text, "number", &value) && value.size() > text.size()) __builtin_trap();
            break;
        }
        case 1:
            ReadBatch(BatchFormat::kJson, text);
            break;
        case 2:
            ReadBatch(BatchFormat::kLines, text);
            break;
        case 3: {
            size_t start = 0;
            const size_t end = FindHeadEnd(text, &start);
            if (end != std::string_view::npos && (start >= end || end > text.size())) __builtin_trap();
            if (end != std::string_view::npos) CheckHead(text.substr(start, end - start));
            break;
        }
        case 4:
            if (MediaTypeIs(text, "text/plain") && text.size() < 10) __builtin_trap();
            break;
        case 5:
            FeedChunked(text);
            break;
    }
    return 0;
}
