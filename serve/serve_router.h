// vnlt serve: the reply to a request, from its method, target and head and
// the directory in service; no socket, no state. A path is a row of the
// table in serve_router.cpp.
#pragma once

#include <utility>  // before Asio: Boost 1.74 uses std::exchange unannounced under C++20

#include <boost/beast/http.hpp>
#include <cstdint>
#include <string>
#include <string_view>

#include "serve/serve_batch.h"
#include "serve/serve_metrics.h"
#include "serve/web_files.h"

namespace http = boost::beast::http;

struct Snapshot;

constexpr const char* kJsonType = "application/json; charset=utf-8";

struct RouteReply {
    http::status status = http::status::ok;
    std::string body;
    const char* type = kJsonType;
    const char* allow = nullptr;  // the methods the path takes, for a 405
    Route route = Route::kOther;
    std::string refusal;  // why, of a status over 399
    bool close = false;   // the connection, once the reply is sent
    size_t numbers = 0;   // answered
    // POST /v1/lookup: the body is a batch, answered by the batch pipeline.
    bool batch = false;
    BatchFormat format = BatchFormat::kLines;
    WebReply page;  // one of the web page's files: its headers beside the type
};

// What the replies tell of the service beside the directory.
struct RouteContext {
    const Snapshot& snapshot;
    const Metrics& metrics;
    uint64_t batchBudget;  // bytes
};

RouteReply Respond(http::verb method, std::string_view target, const http::fields& head, const RouteContext& context);

// A refusal: {"error": reason}.
RouteReply Refusal(http::status status, std::string reason, bool close = false);
