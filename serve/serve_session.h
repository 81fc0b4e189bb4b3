// vnlt serve: one connection. It moves bytes: a request's bytes to its
// reader, the router's reply or a batch's pieces to the client, each under
// the connection's deadline.
#pragma once

#include <utility>  // before Asio: Boost 1.74 uses std::exchange unannounced under C++20

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "serve/serve_batch.h"
#include "serve/serve_metrics.h"
#include "serve/serve_reader.h"
#include "serve/serve_router.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

class Service;

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, Service& owner, const asio::ip::address& from);
    ~Session();
    void Start() { Read(); }
    // On SIGTERM: a connection waiting for its next request is closed; one
    // with a request in hand finishes it first.
    void StopIfIdle();
    // Whether it waits for a request, none of it come, and is not yet asked
    // to close: a connection the service may close for a new one.
    bool Idle() const { return waiting.load() && !closing.load(); }
    // Closes it if it is still idle on its own handlers' turn.
    void CloseIfIdle() {
        closing = true;
        StopIfIdle();
    }
    const asio::ip::address& From() const { return address; }

private:
    void Read();
    void ReadHead();
    void OnHead(size_t start, size_t end);
    void ReadBody();
    void FeedBody();
    void OnReadError(beast::error_code ec, const char* when);
    void StartBatch(BatchFormat format);
    void AwaitBudget(uint64_t bytes, bool take, std::function<void()> next);
    void CheckBatchBody();
    void LaunchPieces();
    void SendPiece();
    void Send(RouteReply reply);
    void Refuse(http::status status, const std::string& reason) { Send(Refusal(status, reason, true)); }
    void Finish(bool keepAlive);
    void Linger();
    void Count(unsigned status, size_t bytes);
    void Cut(const char* when);
    // HTTP/1.0 keeps a connection only when the reply says so.
    template <class Body>
    void KeepAlive(http::response<Body>& reply, bool keep) const {
        reply.keep_alive(keep);
        if (keep && reader.Http10()) reply.set(http::field::connection, "keep-alive");
    }
    bool KeepRequested() const { return reader.HasHead() && reader.Get().get().keep_alive(); }

    beast::tcp_stream stream;
    Service& service;
    asio::ip::address address;
    beast::flat_buffer buffer;
    RequestReader reader;
    RouteReply routed;  // of a request that is not a batch, sent once its body is read
    http::response<http::string_body> response;
    std::optional<http::response_serializer<http::string_body>> headOnly;
    http::response<http::empty_body> goOn;
    http::response<http::empty_body> batchHead;
    std::optional<http::response_serializer<http::empty_body>> batchHeadWriter;
    asio::steady_timer budgetTimer;
    Clock::time_point started;       // the head whole
    Clock::time_point requestStart;  // its first byte
    Clock::time_point waitingSince;
    Route route = Route::kOther;
    bool head = false;                 // a HEAD request: the reply's header only
    std::atomic<bool> waiting{false};  // for a request, none of it come yet
    std::atomic<bool> closing{false};
    uint64_t budgetTaken = 0;
    uint64_t bodyCounted = 0;  // of the batch's body, in budgetTaken
    bool budgetWait = false;
    std::unique_ptr<Batch> batch;
};
