// vnlt serve: a request read from the bytes a connection gives.
#include "serve/serve_reader.h"

#include "serve/serve_limits.h"
#include "serve/serve_request.h"

namespace beast = boost::beast;

RequestReader::Step RequestReader::Refuse(http::status refusal, std::string why) {
    status = refusal;
    reason = std::move(why);
    return Step::kRefused;
}

RequestReader::Step RequestReader::Head(std::string_view head) {
    if (const char* why = CheckHead(head)) return Refuse(http::status::bad_request, why);
    parser.emplace();
    framingOver = false;
    batch = false;
    // Beast keeps no bound on a chunk's extensions: a hook does.
    onChunkLine = [this](uint64_t, beast::string_view extensions, beast::error_code& ec) {
        if (extensions.size() <= kFramingLimit) return;
        framingOver = true;
        ec = http::error::bad_chunk_extension;
    };
    parser->on_chunk_header(onChunkLine);
    parser->eager(true);
    parser->header_limit(kHeaderLimit);
    parser->body_limit(kBodyLimit);
    beast::error_code ec;
    if (head.size() > kHeaderLimit) ec = http::error::header_limit;
    if (!ec) parser->put(boost::asio::buffer(head.data(), head.size()), ec);
    if (ec == http::error::header_limit)
        return Refuse(http::status::request_header_fields_too_large,
                      "request line and headers over " + SizeText(kHeaderLimit));
    if (ec == http::error::body_limit)
        return Refuse(http::status::payload_too_large, "body over " + SizeText(kBodyLimit));
    if (ec || !parser->is_header_done())
        return Refuse(http::status::bad_request, "malformed request: " + (ec ? ec.message() : "no header"));
    const auto& request = parser->get();
    if (request.version() == 11 && request.count(http::field::host) != 1)
        return Refuse(http::status::bad_request, "HTTP/1.1 wants one Host header");
    headFields = static_cast<size_t>(std::distance(request.begin(), request.end()));
    return Step::kDone;
}

RequestReader::Step RequestReader::LimitBody(uint64_t most, bool isBatch) {
    batch = isBatch;
    parser->body_limit(most);
    if (parser->content_length().value_or(0) > most) return RefuseBodyLimit();
    return Step::kDone;
}

RequestReader::Step RequestReader::RefuseBodyLimit() {
    return Refuse(http::status::payload_too_large,
                  batch ? "body over " + SizeText(kBodyLimit) + " or the batch memory"
                        : "body over " + SizeText(kSmallBodyLimit) + " on a path that reads none");
}

// The trailers come after the head's fields, which they join.
size_t RequestReader::TrailerBytes() const {
    size_t bytes = 0, index = 0;
    for (const auto& field : parser->get())
        if (index++ >= headFields) bytes += field.name_string().size() + field.value().size() + 4;
    return bytes;
}

RequestReader::Step RequestReader::Body(beast::flat_buffer& buffer) {
    if (!parser->is_done() && buffer.size() > 0) {
        beast::error_code ec;
        buffer.consume(parser->put(buffer.data(), ec));
        if (framingOver || (parser->is_done() && parser->chunked() && TrailerBytes() > kFramingLimit))
            return RefuseFraming();
        if (ec == http::error::body_limit) return RefuseBodyLimit();
        if (ec && ec != http::error::need_more)
            return Refuse(http::status::bad_request, "malformed request: " + ec.message());
    }
    if (parser->is_done()) return Step::kDone;
    if (buffer.size() > kFramingLimit) return RefuseFraming();
    return Step::kMore;
}

RequestReader::Step RequestReader::RefuseFraming() {
    return Refuse(http::status::bad_request, "a chunk line or the trailers over " + SizeText(kFramingLimit));
}
