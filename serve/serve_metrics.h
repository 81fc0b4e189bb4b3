// vnlt serve: its counters, and their Prometheus text form for /metrics.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

enum class Route { kLookup, kBatch, kHealth, kStats, kMetrics, kOther };
constexpr size_t kRoutes = 6;

// Lock-free, so that counting costs a single lookup nothing it would notice.
struct Metrics {
    // A status outside the service's few is counted as "other".
    void CountRequest(Route route, unsigned status, double seconds);

    std::atomic<uint64_t> numbersAnswered{0};
    std::atomic<int64_t> connectionsOpen{0};
    std::atomic<uint64_t> refusedOverTotal{0};
    std::atomic<uint64_t> refusedOverAddress{0};
    std::atomic<uint64_t> idleClosed{0};     // at the cap, for a new connection
    std::atomic<int64_t> batchesWaiting{0};  // for their share of the batch memory
    std::atomic<int64_t> batchesRunning{0};
    std::atomic<int64_t> batchBytes{0};  // of the budget, taken
    std::atomic<uint64_t> reloadsDone{0};
    std::atomic<uint64_t> reloadsFailed{0};

    static constexpr std::array<unsigned, 10> kStatuses{200, 400, 404, 405, 413, 414, 415, 431, 503, 0};
    static constexpr std::array<double, 12> kBounds{0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
                                                    0.05,   0.1,   0.25,   0.5,   1,    5};
    std::atomic<uint64_t> requests[kRoutes][kStatuses.size()]{};
    std::atomic<uint64_t> latency[kRoutes][kBounds.size() + 1]{};  // not cumulative; the last is +Inf
    std::atomic<uint64_t> latencyMicros[kRoutes]{};
};

// The text exposition format, version 0.0.4. `dataVersion` labels the data
// version gauge; `batchBudget` is the batch memory limit in bytes.
std::string RenderMetrics(const Metrics& metrics, const std::string& dataVersion, uint64_t batchBudget);
