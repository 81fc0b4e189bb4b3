// vnlt serve: the reply to a request, from a table of paths.
#include "serve/serve_router.h"

#include "answer/delimited.h"
#include "serve/serve_request.h"
#include "serve/serve_snapshot.h"

namespace {

std::string StatsJson(const Snapshot& s) {
    const DirectoryStatistics st = StatisticsOf(s.tables().header);
    std::string out = "{\"dataVersion\":\"" + VersionText(s.tables().header) + "\"";
    out += ",\"numbers\":" + std::to_string(st.numbers);
    out += ",\"items\":" + std::to_string(st.items);
    out += ",\"areas\":" + std::to_string(st.areas);
    out += ",\"types\":" + std::to_string(st.types);
    out += ",\"bytes\":{\"file\":" + std::to_string(st.fileBytes);
    out += ",\"items\":" + std::to_string(st.itemBytes);
    out += ",\"areas\":" + std::to_string(st.areaBytes);
    out += ",\"types\":" + std::to_string(st.typeBytes);
    out += "},\"file\":\"";
    AppendJsonString(out, s.file);
    out += "\"}";
    return out;
}

RouteReply Ok(std::string body, const char* type = kJsonType) {
    RouteReply reply;
    reply.body = std::move(body);
    reply.type = type;
    return reply;
}

struct Asked {
    http::verb method;
    std::string_view query;
    const http::fields& head;
    const RouteContext& context;
};

RouteReply Health(const Asked&) { return Ok("{\"status\":\"ok\"}"); }

RouteReply Stats(const Asked& asked) { return Ok(StatsJson(asked.context.snapshot)); }

RouteReply MetricsText(const Asked& asked) {
    const RouteContext& c = asked.context;
    return Ok(RenderMetrics(c.metrics, VersionText(c.snapshot.tables().header), c.batchBudget),
              "text/plain; version=0.0.4; charset=utf-8");
}

RouteReply Lookup(const Asked& asked) {
    if (asked.method == http::verb::post) {
        const auto given = asked.head[http::field::content_type];
        const std::string_view type(given.data(), given.size());
        RouteReply reply;
        reply.batch = true;
        if (MediaTypeIs(type, "application/json")) {
            reply.format = BatchFormat::kJson;
        } else if (!type.empty() && !MediaTypeIs(type, "text/plain")) {
            return Refusal(http::status::unsupported_media_type, "send application/json or text/plain", true);
        }
        return reply;
    }
    std::string number;
    if (!FindQueryParameter(asked.query, "number", &number))
        return Refusal(http::status::bad_request, "missing number");
    if (number.size() > kMaxNumberBytes)
        return Refusal(http::status::bad_request, BatchErrorText(BatchError::kTooLong));
    std::string body;
    body.reserve(256);
    body += '{';
    AppendJsonAnswer(body, number, asked.context.snapshot.opened->answerer.Ask(number));
    RouteReply reply = Ok(std::move(body));
    reply.numbers = 1;
    return reply;
}

struct Path {
    std::string_view path;
    Route route;
    bool post;  // beside GET and HEAD
    RouteReply (*answer)(const Asked&);
};

constexpr Path kPaths[] = {
    {"/v1/lookup", Route::kLookup, true, Lookup},
    {"/healthz", Route::kHealth, false, Health},
    {"/v1/stats", Route::kStats, false, Stats},
    {"/metrics", Route::kMetrics, false, MetricsText},
};

}  // namespace

RouteReply Refusal(http::status status, std::string reason, bool close) {
    RouteReply reply;
    reply.status = status;
    reply.body = "{\"error\":\"";
    AppendJsonString(reply.body, reason);
    reply.body += "\"}";
    reply.refusal = std::move(reason);
    reply.close = close;
    return reply;
}

RouteReply Respond(http::verb method, std::string_view target, const http::fields& head, const RouteContext& context) {
    if (target.size() > kTargetLimit)
        return Refusal(http::status::uri_too_long, "URL over " + SizeText(kTargetLimit), true);
    std::string_view path, query;
    SplitTarget(target, &path, &query);
    for (const Path& p : kPaths) {
        if (p.path != path) continue;
        const bool get = method == http::verb::get || method == http::verb::head;
        RouteReply reply;
        if (get || (p.post && method == http::verb::post)) {
            reply = p.answer({method, query, head, context});
        } else {
            reply = Refusal(http::status::method_not_allowed, p.post ? "use GET or POST" : "use GET");
            reply.allow = p.post ? "GET, HEAD, POST" : "GET, HEAD";
        }
        reply.route = p.post && method == http::verb::post ? Route::kBatch : p.route;
        return reply;
    }
    WebReply page;
    const auto tags = head[http::field::if_none_match];
    if (AnswerWebFile(path, {tags.data(), tags.size()}, &page)) {
        if (method != http::verb::get && method != http::verb::head) {
            RouteReply refused = Refusal(http::status::method_not_allowed, "use GET");
            refused.allow = "GET, HEAD";
            return refused;
        }
        RouteReply reply = Ok(std::string(page.body), page.type);
        reply.status = static_cast<http::status>(page.status);
        reply.page = page;
        return reply;
    }
    return Refusal(http::status::not_found, "no such path");
}
