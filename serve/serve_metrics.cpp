// vnlt serve: its counters in the Prometheus text format.
#include "serve/serve_metrics.h"

#include <cstdio>

namespace {

constexpr const char* kRouteNames[kRoutes] = {"lookup", "batch", "healthz", "stats", "metrics", "other"};

void Line(std::string& out, const char* name, const std::string& labels, double value) {
    char number[32];
    std::snprintf(number, sizeof number, "%.17g", value);
    out += name;
    if (!labels.empty()) out += "{" + labels + "}";
    out += ' ';
    out += number;
    out += '\n';
}

void Describe(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void Gauge(std::string& out, const char* name, const char* help, double value) {
    Describe(out, name, "gauge", help);
    Line(out, name, "", value);
}

}  // namespace

void Metrics::CountRequest(Route route, unsigned status, double seconds) {
    size_t s = 0;
    while (kStatuses[s] != 0 && kStatuses[s] != status) ++s;
    const size_t r = static_cast<size_t>(route);
    requests[r][s].fetch_add(1, std::memory_order_relaxed);
    size_t b = 0;
    while (b < kBounds.size() && seconds > kBounds[b]) ++b;
    latency[r][b].fetch_add(1, std::memory_order_relaxed);
    latencyMicros[r].fetch_add(static_cast<uint64_t>(seconds * 1e6), std::memory_order_relaxed);
}

std::string RenderMetrics(const Metrics& m, const std::string& dataVersion, uint64_t batchBudget) {
    std::string out;
    Describe(out, "vnlt_requests_total", "counter", "Requests answered, by route and status.");
    for (size_t r = 0; r < kRoutes; ++r)
        for (size_t s = 0; s < Metrics::kStatuses.size(); ++s) {
            const uint64_t n = m.requests[r][s].load(std::memory_order_relaxed);
            if (n == 0) continue;
            const std::string status = Metrics::kStatuses[s] ? std::to_string(Metrics::kStatuses[s]) : "other";
            Line(out, "vnlt_requests_total", std::string("route=\"") + kRouteNames[r] + "\",status=\"" + status + "\"",
                 static_cast<double>(n));
        }
    Describe(out, "vnlt_request_duration_seconds", "histogram",
             "From a request's head to the end of its reply's making, by route.");
    for (size_t r = 0; r < kRoutes; ++r) {
        const std::string route = std::string("route=\"") + kRouteNames[r] + "\"";
        uint64_t cumulative = 0;
        for (size_t b = 0; b <= Metrics::kBounds.size(); ++b) {
            cumulative += m.latency[r][b].load(std::memory_order_relaxed);
            char bound[32];
            if (b < Metrics::kBounds.size())
                std::snprintf(bound, sizeof bound, "%g", Metrics::kBounds[b]);
            else
                std::snprintf(bound, sizeof bound, "+Inf");
            Line(out, "vnlt_request_duration_seconds_bucket", route + ",le=\"" + bound + "\"",
                 static_cast<double>(cumulative));
        }
        Line(out, "vnlt_request_duration_seconds_sum", route,
             static_cast<double>(m.latencyMicros[r].load(std::memory_order_relaxed)) / 1e6);
        Line(out, "vnlt_request_duration_seconds_count", route, static_cast<double>(cumulative));
    }
    Describe(out, "vnlt_numbers_answered_total", "counter", "Numbers answered, single and in batches.");
    Line(out, "vnlt_numbers_answered_total", "", static_cast<double>(m.numbersAnswered.load()));
    Gauge(out, "vnlt_batches_waiting", "Batches waiting for their share of the batch memory.",
          static_cast<double>(m.batchesWaiting.load()));
    Gauge(out, "vnlt_batches_running", "Batches being read or answered.", static_cast<double>(m.batchesRunning.load()));
    Gauge(out, "vnlt_batch_memory_bytes", "Batch memory taken, of vnlt_batch_memory_limit_bytes.",
          static_cast<double>(m.batchBytes.load()));
    Gauge(out, "vnlt_batch_memory_limit_bytes", "The batch memory budget (--batch-memory).",
          static_cast<double>(batchBudget));
    Gauge(out, "vnlt_connections_open", "Connections open.", static_cast<double>(m.connectionsOpen.load()));
    Describe(out, "vnlt_connections_refused_total", "counter", "Connections closed at once, by the cap they met.");
    Line(out, "vnlt_connections_refused_total", "cap=\"total\"", static_cast<double>(m.refusedOverTotal.load()));
    Line(out, "vnlt_connections_refused_total", "cap=\"address\"", static_cast<double>(m.refusedOverAddress.load()));
    Describe(out, "vnlt_connections_idle_closed_total", "counter",
             "Idle kept-alive connections closed at the connection cap for a new one.");
    Line(out, "vnlt_connections_idle_closed_total", "", static_cast<double>(m.idleClosed.load()));
    Describe(out, "vnlt_reloads_total", "counter", "Reloads on SIGHUP, by result.");
    Line(out, "vnlt_reloads_total", "result=\"done\"", static_cast<double>(m.reloadsDone.load()));
    Line(out, "vnlt_reloads_total", "result=\"failed\"", static_cast<double>(m.reloadsFailed.load()));
    Describe(out, "vnlt_data_version_info", "gauge", "The data version of the directory served, as a label.");
    Line(out, "vnlt_data_version_info", "version=\"" + dataVersion + "\"", 1);
    return out;
}
