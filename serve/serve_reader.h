// vnlt serve: a request read from the bytes a connection gives, apart from
// the socket: its head checked and parsed, then its body fed from the read
// buffer, every part of it under its limit.
#pragma once

#include <utility>  // before Asio: Boost 1.74 uses std::exchange unannounced under C++20

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace http = boost::beast::http;

class RequestReader {
public:
    using Parser = http::request_parser<http::string_body>;
    enum class Step { kMore, kDone, kRefused };

    // A whole head, as FindHeadEnd finds it. kDone: the head is in hand;
    // kRefused: Status() and Reason() say why.
    Step Head(std::string_view head);
    // The most the body may be, `batch` for the refusal's text. kRefused
    // when its Content-Length is more.
    Step LimitBody(uint64_t most, bool batch);
    // Feeds the parser what `buffer` holds, consuming what it takes. kMore:
    // read more into the buffer; what the parser leaves there, a chunk line
    // or trailers not yet whole, is kept under kFramingLimit.
    Step Body(boost::beast::flat_buffer& buffer);

    void Reset() { parser.reset(); }
    Parser& Get() { return *parser; }
    const Parser& Get() const { return *parser; }
    bool HasHead() const { return parser && parser->is_header_done(); }
    bool Http10() const { return HasHead() && parser->get().version() == 10; }
    http::status Status() const { return status; }
    const std::string& Reason() const { return reason; }

private:
    Step Refuse(http::status refusal, std::string why);
    Step RefuseBodyLimit();
    Step RefuseFraming();
    size_t TrailerBytes() const;

    std::optional<Parser> parser;
    http::status status = http::status::ok;
    std::string reason;
    size_t headFields = 0;
    bool batch = false;
    bool framingOver = false;  // a chunk line over kFramingLimit
    std::function<void(uint64_t, boost::beast::string_view, boost::beast::error_code&)> onChunkLine;
};
