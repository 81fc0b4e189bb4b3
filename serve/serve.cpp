// vnlt serve: the directory as an HTTP lookup service, on Boost.Beast.
#include "serve/serve.h"

#include <utility>  // before Asio: Boost 1.74 uses std::exchange unannounced under C++20

#include <malloc.h>
#include <sys/resource.h>
#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <vector>

#include "answer/answer.h"
#include "answer/delimited.h"
#include "base/utf8.h"
#include "directory/directory.h"
#include "serve/serve_metrics.h"
#include "serve/serve_request.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kHeaderLimit = 16 * 1024;
// A chunk's size line with its extensions, or the trailer section, waits
// whole in the read buffer before the parser takes it: this bounds them.
constexpr size_t kFramingLimit = 16 * 1024;
constexpr size_t kReadSize = 64 * 1024;
// Past the head or a chunk line's limit a request is refused, so a
// connection's buffer never holds more than this.
constexpr size_t kReadBufferLimit = kHeaderLimit + kReadSize;
constexpr size_t kTargetLimit = 8 * 1024;
constexpr uint64_t kBodyLimit = 64 * 1024 * 1024;
constexpr uint64_t kSmallBodyLimit = 64 * 1024;  // of a request that is not a batch
// A batch's reply is made and sent a piece of this many answers at a time,
// some 180 KB, at most 1 MB when every byte of every number is escaped.
constexpr size_t kPieceNumbers = 1024;
constexpr size_t kPiecesAhead = 4;  // made or being made, beyond the one sent
// Beside its body, a batch holds its pieces and the parser's state.
constexpr uint64_t kBatchOverhead = 6 * 1024 * 1024;
constexpr auto kBudgetWait = std::chrono::seconds(1);
constexpr auto kBudgetPoll = std::chrono::milliseconds(20);
constexpr auto kLinger = std::chrono::seconds(1);

// "16 KiB", "64 MiB": a limit as its refusal states it.
std::string SizeText(uint64_t bytes) {
    return bytes >= (1 << 20) ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes >> 10) + " KiB";
}

// One opened directory, never changed once shared: a reload opens another,
// and the last request holding this one frees it.
struct Snapshot {
    std::unique_ptr<AnsweringDirectory> opened;
    std::string file;
    const Directory& tables() const { return opened->tables; }
};

std::mutex logLock;

void Log(const std::string& line) {
    std::lock_guard<std::mutex> hold(logLock);
    std::fprintf(stderr, "vnlt serve: %s\n", line.c_str());
    std::fflush(stderr);
}

std::string VersionText(const DirectoryHeader& h) {
    return std::to_string(h.versionYear) + "." + std::to_string(h.versionMonth) + "." + std::to_string(h.versionDay);
}

// Called by one thread at a time: at start, then by the signal handler.
// `*cause`: the system's word for a failed open or read, where it has one.
std::shared_ptr<const Snapshot> LoadSnapshot(const std::string& file, DirectoryResult* result, std::string* cause) {
    auto snapshot = std::make_shared<Snapshot>();
    errno = 0;
    *result = OpenAnswering(Utf8ToUtf16(file).c_str(), &snapshot->opened);
    const int error = errno;
    if (*result != kDirectoryOk) {
        if (error && (*result == kDirectoryUnreadable || *result == kDirectoryOutOfMemory))
            *cause = std::strerror(error);
        return nullptr;
    }
    snapshot->file = file;
    return snapshot;
}

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

class Service;

// A batch in hand: its body, and the pieces of its reply, made by the batch
// threads, several at once, while the connection's handlers send them in
// order. The cursor and the count of pieces planned are the batch threads',
// under the lock; a piece is a batch thread's until it is handed over, then
// the handlers'; the rest is the handlers'.
struct Batch {
    std::string body;
    BatchFormat format = BatchFormat::kLines;
    std::shared_ptr<const Snapshot> snapshot;
    size_t pieceCount = 0;
    std::mutex planLock;
    std::optional<BatchCursor> cursor;
    size_t planned = 0;
    std::string pieces[kPiecesAhead];
    bool made[kPiecesAhead] = {};
    size_t launched = 0;
    size_t nextToSend = 0;
    size_t sent = 0;  // bytes of the reply's body
    bool sending = false;
};

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
    void RefuseFraming();
    void OnBody(beast::error_code ec);
    void AskToGoOn();
    void Dispatch();
    void StartBatch();
    void AwaitBudget(uint64_t bytes, bool take, std::function<void()> next);
    void AnswerBatch();
    void CheckBatchBody();
    void LaunchPieces();
    void MakePiece();
    void SendPiece();
    // `allow`: the methods the path takes, for a 405.
    void Reply(http::status status, std::string body, bool keepAlive, const char* allow = nullptr,
               const char* type = "application/json; charset=utf-8");
    void Refuse(http::status status, const std::string& reason, bool keepAlive, const char* allow = nullptr);
    void Finish(bool keepAlive);
    void Linger();
    void Count(unsigned status, size_t bytes);
    // HTTP/1.0 keeps a connection only when the reply says so.
    template <class Body>
    void KeepAlive(http::response<Body>& reply, bool keep) const {
        reply.keep_alive(keep);
        if (keep && Http10()) reply.set(http::field::connection, "keep-alive");
    }
    // The trailers come after the head's fields, which they join.
    size_t TrailerBytes() const {
        size_t bytes = 0, index = 0;
        for (const auto& field : parser->get())
            if (index++ >= headFields) bytes += field.name_string().size() + field.value().size() + 4;
        return bytes;
    }
    bool Http10() const { return parser && parser->is_header_done() && parser->get().version() == 10; }
    void Cut(const char* when);

    beast::tcp_stream stream;
    Service& service;
    asio::ip::address address;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    http::response<http::string_body> response;
    std::optional<http::response_serializer<http::string_body>> headOnly;
    http::response<http::empty_body> goOn;
    http::response<http::empty_body> batchHead;
    std::optional<http::response_serializer<http::empty_body>> batchHeadWriter;
    asio::steady_timer budgetTimer;
    Clock::time_point started;
    Clock::time_point requestStart;  // its first byte
    Clock::time_point waitingSince;
    enum Route route = Route::kOther;
    bool head = false;                 // a HEAD request: the reply's header only
    std::atomic<bool> waiting{false};  // for a request, none of it come yet
    std::atomic<bool> closing{false};
    uint64_t budgetTaken = 0;
    uint64_t bodyCounted = 0;  // of the batch's body, in budgetTaken
    bool budgetWait = false;
    bool framingOver = false;  // a chunk line or the trailers over kFramingLimit
    size_t headFields = 0;
    std::function<void(uint64_t, beast::string_view, beast::error_code&)> onChunkLine =
        [this](uint64_t, beast::string_view extensions, beast::error_code& ec) {
            if (extensions.size() <= kFramingLimit) return;
            framingOver = true;
            ec = http::error::bad_chunk_extension;
        };
    std::unique_ptr<Batch> batch;
};

class Service {
public:
    Service(const ServeOptions& serveOptions, std::shared_ptr<const Snapshot> first)
        : options(serveOptions),
          current(std::move(first)),
          io(static_cast<int>(serveOptions.threads)),
          acceptor(io),
          acceptPause(io),
          drainTimer(io),
          signals(io, SIGHUP, SIGTERM, SIGINT),
          batchWork(batchIo.get_executor()) {}

    bool Listen(const tcp::endpoint& endpoint, std::string* error) {
        beast::error_code ec;
        acceptor.open(endpoint.protocol(), ec);
        if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
        if (!ec) acceptor.bind(endpoint, ec);
        if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
        if (ec) *error = "cannot listen on " + options.listen + ": " + ec.message();
        return !ec;
    }

    void Run() {
        Accept();
        WaitForSignal();
        std::vector<std::thread> batchThreads;
        for (unsigned i = 0; i < options.batchThreads; ++i) batchThreads.emplace_back([this] { RunHandlers(batchIo); });
        std::vector<std::thread> others;
        for (unsigned i = 1; i < options.threads; ++i) others.emplace_back([this] { RunHandlers(io); });
        RunHandlers(io);
        for (std::thread& t : others) t.join();
        batchWork.reset();
        batchIo.stop();
        for (std::thread& t : batchThreads) t.join();
        std::lock_guard<std::mutex> hold(sessionsLock);
        finished = true;
    }

    std::shared_ptr<const Snapshot> Current() const { return current.load(std::memory_order_acquire); }
    const ServeOptions& Options() const { return options; }
    std::string Address() const {
        const tcp::endpoint bound = acceptor.local_endpoint();
        const std::string host = bound.address().to_string();
        return (bound.address().is_v6() ? "[" + host + "]" : host) + ":" + std::to_string(bound.port());
    }
    bool Stopping() const { return stopping.load(); }
    asio::io_context& BatchThreads() { return batchIo; }
    uint64_t BatchBudget() const { return uint64_t{options.batchMemoryMiB} << 20; }

    // All batches together hold at most the budget.
    bool BudgetFits(uint64_t bytes) const {
        return static_cast<uint64_t>(metrics.batchBytes.load()) + bytes <= BatchBudget();
    }
    bool TakeBudget(uint64_t bytes) {
        int64_t taken = metrics.batchBytes.load();
        do {
            if (static_cast<uint64_t>(taken) + bytes > BatchBudget()) return false;
        } while (!metrics.batchBytes.compare_exchange_weak(taken, taken + static_cast<int64_t>(bytes)));
        return true;
    }
    void GiveBudget(uint64_t bytes) { metrics.batchBytes -= static_cast<int64_t>(bytes); }

    void Leave(Session* session, const asio::ip::address& from) {
        std::lock_guard<std::mutex> hold(sessionsLock);
        sessions.erase(session);
        if (--perAddress[from] == 0) perAddress.erase(from);
        --metrics.connectionsOpen;
        if (stopping && sessions.empty() && !finished) io.stop();
    }

    Metrics metrics;

private:
    // A handler that throws (memory running out for a batch) costs its own
    // connection, never the service.
    void RunHandlers(asio::io_context& context) {
        for (;;) {
            try {
                context.run();
                return;
                // No test makes a handler throw: bad_alloc is all that could.
                // GCOVR_EXCL_START
            } catch (const std::exception& e) {
                Log(std::string("error: ") + e.what());
            }
            // GCOVR_EXCL_STOP
        }
    }

    void Accept() {
        // Each connection's handlers run in order: on a strand where several
        // threads run them, and as they are where one thread does.
        const asio::any_io_executor executor = options.threads == 1 ? asio::any_io_executor(io.get_executor())
                                                                    : asio::any_io_executor(asio::make_strand(io));
        acceptor.async_accept(executor, [this](beast::error_code ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted) return;
            if (ec) return PauseAccepting(ec.message());
            if (!acceptFailure.empty()) {
                Log("accepting again");
                acceptFailure.clear();
            }
            // Whatever befalls one connection, the next is accepted.
            try {
                Admit(std::move(socket));
            } catch (const std::exception& e) {  // GCOVR_EXCL_START: bad_alloc is all that could
                Log(std::string("accept: ") + e.what());
                return PauseAccepting(e.what());
            }  // GCOVR_EXCL_STOP
            if (acceptor.is_open()) Accept();
        });
    }

    // Over a cap the connection is closed at once: a client retries, and the
    // service's memory stays bounded. The cap per address keeps one client
    // from taking every connection.
    void Admit(tcp::socket socket) {
        beast::error_code ec;
        const asio::ip::address from = socket.remote_endpoint(ec).address();
        if (ec) return;  // gone already
        std::shared_ptr<Session> idle;
        {
            std::lock_guard<std::mutex> hold(sessionsLock);
            const bool overAddress = options.maxPerAddress && perAddress[from] >= options.maxPerAddress;
            const bool overTotal = sessions.size() >= options.maxConnections;
            if (!overAddress && overTotal) idle = FindIdle();
            if (overAddress || (overTotal && !idle)) {
                if (perAddress[from] == 0) perAddress.erase(from);
                socket.close(ec);
                return NoteRefusal(!overAddress, from);
            }
            ++perAddress[from];
            ++metrics.connectionsOpen;
        }
        if (idle) {
            ++metrics.idleClosed;
            idle->CloseIfIdle();
        }
        auto session = std::make_shared<Session>(std::move(socket), *this, from);
        {
            std::lock_guard<std::mutex> hold(sessionsLock);
            sessions.insert(session.get());
        }
        session->Start();
    }

    // At the cap, an idle kept-alive connection gives way to a new one, from
    // the address that holds the most: a proxy's pool of idle connections
    // never locks out a health check. Under sessionsLock.
    std::shared_ptr<Session> FindIdle() {
        std::shared_ptr<Session> found;
        unsigned most = 0;
        for (Session* session : sessions) {
            if (!session->Idle() || perAddress[session->From()] <= most) continue;
            if (std::shared_ptr<Session> alive = session->weak_from_this().lock()) {
                found = std::move(alive);
                most = perAddress[session->From()];
            }
        }
        return found;
    }

    // Counted always, logged once a second at most: a flood of refusals must
    // not become a flood of log lines.
    void NoteRefusal(bool overTotal, const asio::ip::address& from) {
        ++(overTotal ? metrics.refusedOverTotal : metrics.refusedOverAddress);
        const Clock::time_point now = Clock::now();
        if (now < nextRefusalLog) return;
        nextRefusalLog = now + std::chrono::seconds(1);
        Log("refused a connection from " + from.to_string() + ": " +
            (overTotal ? "--max-connections " + std::to_string(options.maxConnections) + " reached"
                       : "--max-per-address " + std::to_string(options.maxPerAddress) + " reached") +
            "; " + std::to_string(metrics.refusedOverTotal + metrics.refusedOverAddress) + " refused in all");
    }

    // Out of descriptors, the waiting connection stays queued and accept
    // fails again at once: retrying at once would spin and flood the log.
    // Only one accept is ever pending, so acceptFailure needs no lock.
    void PauseAccepting(const std::string& failure) {
        if (failure != acceptFailure) {
            acceptFailure = failure;
            Log("accept: " + acceptFailure + "; trying again every 100 ms");
        }
        acceptPause.expires_after(std::chrono::milliseconds(100));
        acceptPause.async_wait([this](beast::error_code waited) {
            if (!waited && acceptor.is_open()) Accept();
        });
    }

    void WaitForSignal() {
        signals.async_wait([this](beast::error_code ec, int signal) {
            if (ec) return;
            if (signal == SIGHUP) {
                Reload();
                return WaitForSignal();
            }
            if (stopping) {
                Log("stopping at once on a second signal");
                return io.stop();
            }
            Log(std::string(signal == SIGTERM ? "stopping on SIGTERM" : "stopping on SIGINT") +
                "; finishing the requests in hand for up to " + std::to_string(options.drainSeconds) + " s");
            BeginStop();
            WaitForSignal();
        });
    }

    void BeginStop() {
        beast::error_code ignored;
        acceptor.close(ignored);
        acceptPause.cancel();
        std::vector<std::shared_ptr<Session>> open;
        {
            std::lock_guard<std::mutex> hold(sessionsLock);
            stopping = true;
            if (sessions.empty()) return io.stop();
            for (Session* session : sessions)
                if (std::shared_ptr<Session> alive = session->weak_from_this().lock()) open.push_back(alive);
        }
        for (std::shared_ptr<Session>& session : open) session->StopIfIdle();
        drainTimer.expires_after(std::chrono::seconds(options.drainSeconds));
        drainTimer.async_wait([this](beast::error_code ec) {
            if (ec) return;
            Log("drain time over: " + std::to_string(metrics.connectionsOpen.load()) + " connections cut");
            io.stop();
        });
    }

    void Reload() {
        const std::string& file = options.file;
        DirectoryResult result;
        std::string cause;
        std::shared_ptr<const Snapshot> next = LoadSnapshot(file, &result, &cause);
        if (!next) {
            ++metrics.reloadsFailed;
            Log("reload failed: " + file + ": " + DirectoryResultText(result) + " (result " + std::to_string(result) +
                (cause.empty() ? "" : ": " + cause) + "); still serving data version " +
                VersionText(Current()->tables().header));
            return;
        }
        ++metrics.reloadsDone;
        const std::string line = "reloaded " + file + ": data version " + VersionText(next->tables().header) + ", " +
                                 std::to_string(next->tables().header.itemCount) + " items";
        current.store(std::move(next), std::memory_order_release);
        Log(line);  // once every new request is answered from it
    }

    ServeOptions options;
    std::atomic<std::shared_ptr<const Snapshot>> current;
    // Sessions left in the handlers' queues leave as the io_context goes:
    // what they touch is declared before it, so it outlives them.
    std::mutex sessionsLock;
    std::unordered_set<Session*> sessions;
    std::map<asio::ip::address, unsigned> perAddress;
    std::atomic<bool> stopping{false};
    bool finished = false;
    Clock::time_point nextRefusalLog;
    asio::io_context io;
    tcp::acceptor acceptor;
    asio::steady_timer acceptPause;
    asio::steady_timer drainTimer;
    std::string acceptFailure;
    asio::signal_set signals;
    asio::io_context batchIo;
    asio::executor_work_guard<asio::io_context::executor_type> batchWork;
};

Session::Session(tcp::socket socket, Service& owner, const asio::ip::address& from)
    : stream(std::move(socket)),
      service(owner),
      address(from),
      buffer(kReadBufferLimit),
      budgetTimer(stream.get_executor()) {}

Session::~Session() {
    if (budgetTaken) service.GiveBudget(budgetTaken);
    if (batch) --service.metrics.batchesRunning;
    if (budgetWait) --service.metrics.batchesWaiting;
    service.Leave(this, address);
}

void Session::StopIfIdle() {
    asio::post(stream.get_executor(), [self = shared_from_this()] {
        beast::error_code ignored;
        if (self->waiting) self->stream.socket().close(ignored);
    });
}

void Session::Read() {
    if (service.Stopping()) return Finish(false);
    parser.reset();
    framingOver = false;
    route = Route::kOther;
    head = false;
    waiting = buffer.size() == 0;
    requestStart = Clock::now();
    // The whole request must come within the timeout: a slow or idle client
    // loses its connection rather than holding it.
    stream.expires_after(std::chrono::seconds(service.Options().idleSeconds));
    ReadHead();
}

void Session::ReadHead() {
    const auto data = buffer.data();
    const std::string_view text(static_cast<const char*>(data.data()), data.size());
    size_t start = 0;
    const size_t end = FindHeadEnd(text, &start);
    if (end != std::string_view::npos) return OnHead(start, end);
    if (text.size() > kHeaderLimit) {
        started = Clock::now();
        return Refuse(http::status::request_header_fields_too_large,
                      "request line and headers over " + SizeText(kHeaderLimit), false);
    }
    stream.async_read_some(
        buffer.prepare(std::min(kReadSize, buffer.max_size() - buffer.size())),
        [self = shared_from_this()](beast::error_code ec, size_t n) {
            self->buffer.commit(n);
            // The request's time runs from its first byte, not from when the
            // connection went idle.
            if (self->waiting && n) {
                self->requestStart = Clock::now();
                self->stream.expires_after(std::chrono::seconds(self->service.Options().idleSeconds));
            }
            self->waiting = false;
            // Cut off or timed out before a whole head: nobody to answer.
            if (ec) {
                if (ec == beast::error::timeout && self->buffer.size()) self->Cut("before its head was whole");
                beast::error_code ignored;
                self->stream.socket().close(ignored);
                return;
            }
            self->ReadHead();
        });
}

void Session::OnHead(size_t start, size_t end) {
    started = Clock::now();
    waiting = false;
    buffer.consume(start);
    const auto data = buffer.data();
    const std::string_view text(static_cast<const char*>(data.data()), end - start);
    if (const char* reason = CheckHead(text)) return Refuse(http::status::bad_request, reason, false);
    parser.emplace();
    parser->eager(true);
    parser->on_chunk_header(onChunkLine);
    parser->header_limit(kHeaderLimit);
    parser->body_limit(kBodyLimit);
    beast::error_code ec;
    if (text.size() > kHeaderLimit) ec = http::error::header_limit;
    if (!ec) parser->put(asio::buffer(text.data(), text.size()), ec);
    buffer.consume(text.size());
    if (ec == http::error::header_limit)
        return Refuse(http::status::request_header_fields_too_large,
                      "request line and headers over " + SizeText(kHeaderLimit), false);
    if (ec == http::error::body_limit)
        return Refuse(http::status::payload_too_large, "body over " + SizeText(kBodyLimit), false);
    if (ec || !parser->is_header_done())
        return Refuse(http::status::bad_request, "malformed request: " + (ec ? ec.message() : "no header"), false);
    const auto& request = parser->get();
    headFields = static_cast<size_t>(std::distance(request.begin(), request.end()));
    if (request.version() == 11 && request.count(http::field::host) != 1)
        return Refuse(http::status::bad_request, "HTTP/1.1 wants one Host header", false);
    head = request.method() == http::verb::head;
    std::string_view path, query;
    SplitTarget({request.target().data(), request.target().size()}, &path, &query);
    if (request.method() == http::verb::post && path == "/v1/lookup") return StartBatch();
    if (parser->content_length().value_or(0) > kSmallBodyLimit) return OnBody(http::error::body_limit);
    parser->body_limit(kSmallBodyLimit);
    ReadBody();
}

void Session::ReadBody() {
    // curl, among others, waits a second for this before sending a large body.
    if (!parser->is_done() && beast::iequals(parser->get()[http::field::expect], "100-continue")) {
        goOn = {};
        goOn.version(11);
        goOn.result(http::status::continue_);
        return http::async_write(stream, goOn, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (ec) return;
            self->FeedBody();
        });
    }
    FeedBody();
}

// The body is read here rather than by Beast's reader, so that the buffer
// stays bounded: what the parser leaves in it is a chunk line or trailers
// not yet whole.
void Session::FeedBody() {
    if (!parser->is_done() && buffer.size() > 0) {
        beast::error_code ec;
        buffer.consume(parser->put(buffer.data(), ec));
        if (framingOver || (parser->is_done() && parser->chunked() && TrailerBytes() > kFramingLimit))
            return RefuseFraming();
        if (ec && ec != http::error::need_more) return OnBody(ec);
        if (batch && parser->get().body().size() > bodyCounted) {
            const uint64_t more = parser->get().body().size() - bodyCounted;
            bodyCounted += more;
            return AwaitBudget(more, true, [self = shared_from_this()] { self->FeedBody(); });
        }
    }
    if (parser->is_done()) return OnBody({});
    // A chunk line or trailers arriving, not yet whole.
    if (buffer.size() > kFramingLimit) return RefuseFraming();
    stream.async_read_some(buffer.prepare(std::min(kReadSize, buffer.max_size() - buffer.size())),
                           [self = shared_from_this()](beast::error_code ec, size_t n) {
                               self->buffer.commit(n);
                               if (ec) return self->OnBody(ec);
                               self->FeedBody();
                           });
}

void Session::RefuseFraming() {
    Refuse(http::status::bad_request, "a chunk line or the trailers over " + SizeText(kFramingLimit), false);
}

void Session::OnBody(beast::error_code ec) {
    if (ec == http::error::body_limit)
        return Refuse(http::status::payload_too_large,
                      route == Route::kBatch ? "body over " + SizeText(kBodyLimit) + " or the batch memory"
                                             : "body over " + SizeText(kSmallBodyLimit) + " on a path that reads none",
                      false);
    if (ec == beast::error::timeout) Cut("before its body was whole");
    if (ec == http::error::end_of_stream || ec == http::error::partial_message || ec == beast::error::timeout ||
        ec == asio::error::connection_reset || ec == asio::error::eof || ec == asio::error::operation_aborted)
        return Finish(false);  // cut off midway: nobody to answer
    if (ec) return Refuse(http::status::bad_request, "malformed request: " + ec.message(), false);
    if (route == Route::kBatch) return AnswerBatch();
    Dispatch();
}

// Logged: an operator whose clients see closed connections learns why.
void Session::Cut(const char* when) {
    const double seconds = std::chrono::duration<double>(Clock::now() - requestStart).count();
    Log("cut a request from " + address.to_string() + " " + when + ": --timeout " +
        std::to_string(service.Options().idleSeconds) + " s passed since its first byte (" +
        std::to_string(static_cast<long long>(seconds * 1000)) + " ms)");
}

void Session::Count(unsigned status, size_t bytes) {
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    service.metrics.CountRequest(route, status, seconds);
    if (!service.Options().accessLog) return;
    std::string request = "-";
    if (parser)
        request = std::string(parser->get().method_string()) + " " + std::string(parser->get().target().substr(0, 200));
    Log("access: " + request + " " + std::to_string(status) + " " + std::to_string(bytes) + " bytes " +
        std::to_string(static_cast<long long>(seconds * 1e6)) + " us");
}

void Session::Reply(http::status status, std::string body, bool keepAlive, const char* allow, const char* type) {
    response = {};
    response.result(status);
    response.version(11);
    response.set(http::field::content_type, type);
    if (allow) response.set(http::field::allow, allow);
    if (status == http::status::service_unavailable) response.set(http::field::retry_after, "1");
    response.body() = std::move(body);
    KeepAlive(response, keepAlive && !service.Stopping());
    response.prepare_payload();
    Count(static_cast<unsigned>(status), response.body().size());
    // A reply is cut only when its client takes none of it for the timeout.
    stream.expires_after(std::chrono::seconds(service.Options().idleSeconds));
    auto done = [self = shared_from_this()](beast::error_code ec, size_t) {
        if (ec) return;
        self->headOnly.reset();
        self->Finish(self->response.keep_alive());
    };
    if (head) {
        headOnly.emplace(response);
        return http::async_write_header(stream, *headOnly, std::move(done));
    }
    http::async_write(stream, response, std::move(done));
}

void Session::Refuse(http::status status, const std::string& reason, bool keepAlive, const char* allow) {
    std::string body = "{\"error\":\"";
    AppendJsonString(body, reason);
    body += "\"}";
    if (static_cast<unsigned>(status) != 404 && static_cast<unsigned>(status) != 405)
        Log("refused with " + std::to_string(static_cast<unsigned>(status)) + ": " + reason);
    Reply(status, std::move(body), keepAlive, allow);
}

// Once a reply is sent: the next request on a kept connection, or the end.
// A batch's request and answer are not kept while the connection idles.
void Session::Finish(bool keepAlive) {
    response = {};
    if (batch) {
        const bool large = batch->body.size() >= (1 << 20);
        batch.reset();
        batchHeadWriter.reset();
        --service.metrics.batchesRunning;
        service.GiveBudget(budgetTaken);
        budgetTaken = 0;
        bodyCounted = 0;
        // glibc keeps a large batch's freed blocks for reuse; given back,
        // the resident memory returns to its idle size.
        if (large) malloc_trim(0);
    }
    if (keepAlive) return Read();
    beast::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream.expires_after(kLinger);
    Linger();
}

// A client still sending a body that was refused would take the close for a
// reset and lose the reply: what it sends for a short while is read and
// dropped.
void Session::Linger() {
    if (!stream.socket().is_open()) return;
    buffer.clear();
    stream.async_read_some(buffer.prepare(65536), [self = shared_from_this()](beast::error_code ec, size_t) {
        if (!ec) self->Linger();
    });
}

void Session::Dispatch() {
    auto& request = parser->get();
    const bool keepAlive = request.keep_alive();
    const beast::string_view target = request.target();
    if (target.size() > kTargetLimit)
        return Refuse(http::status::uri_too_long, "URL over " + SizeText(kTargetLimit), false);
    std::string_view path, query;
    SplitTarget({target.data(), target.size()}, &path, &query);
    const http::verb method = request.method();
    const bool get = method == http::verb::get || method == http::verb::head;

    if (path == "/healthz") {
        route = Route::kHealth;
        if (!get) return Refuse(http::status::method_not_allowed, "use GET", keepAlive, "GET, HEAD");
        return Reply(http::status::ok, "{\"status\":\"ok\"}", keepAlive);
    }
    if (path == "/v1/stats") {
        route = Route::kStats;
        if (!get) return Refuse(http::status::method_not_allowed, "use GET", keepAlive, "GET, HEAD");
        return Reply(http::status::ok, StatsJson(*service.Current()), keepAlive);
    }
    if (path == "/metrics") {
        route = Route::kMetrics;
        if (!get) return Refuse(http::status::method_not_allowed, "use GET", keepAlive, "GET, HEAD");
        return Reply(
            http::status::ok,
            RenderMetrics(service.metrics, VersionText(service.Current()->tables().header), service.BatchBudget()),
            keepAlive, nullptr, "text/plain; version=0.0.4; charset=utf-8");
    }
    if (path != "/v1/lookup") return Refuse(http::status::not_found, "no such path", keepAlive);
    route = Route::kLookup;
    if (!get) return Refuse(http::status::method_not_allowed, "use GET or POST", keepAlive, "GET, HEAD, POST");
    std::string number;
    if (!FindQueryParameter(query, "number", &number))
        return Refuse(http::status::bad_request, "missing number", keepAlive);
    if (number.size() > kMaxNumberBytes)
        return Refuse(http::status::bad_request, BatchErrorText(BatchError::kTooLong), keepAlive);
    std::string body;
    body.reserve(256);
    body += '{';
    AppendJsonAnswer(body, number, service.Current()->opened->answerer.Ask(number));
    ++service.metrics.numbersAnswered;
    Reply(http::status::ok, std::move(body), keepAlive);
}

// No batch memory is held for a body that is not arriving: a batch takes
// its share as its body's bytes come, and the room for its reply once the
// body is whole. A Content-Length that could not fit now is refused before
// the client sends it.
void Session::StartBatch() {
    route = Route::kBatch;
    const auto& request = parser->get();
    const beast::string_view given = request[http::field::content_type];
    const std::string_view type(given.data(), given.size());
    batch = std::make_unique<Batch>();
    ++service.metrics.batchesRunning;
    if (MediaTypeIs(type, "application/json")) {
        batch->format = BatchFormat::kJson;
    } else if (!type.empty() && !MediaTypeIs(type, "text/plain")) {
        return Refuse(http::status::unsupported_media_type, "send application/json or text/plain", false);
    }
    // A chunked body may be as large as the budget allows, up to the limit.
    const uint64_t most = std::min(kBodyLimit, service.BatchBudget() - kBatchOverhead);
    const boost::optional<uint64_t> length = parser->content_length();
    if (length && *length > most) return Refuse(http::status::payload_too_large, "body over the batch memory", false);
    parser->body_limit(most);
    if (!length) return ReadBody();
    AwaitBudget(*length + kBatchOverhead, false, [self = shared_from_this()] { self->ReadBody(); });
}

// Takes `bytes` of the batch memory (or, unless `take`, waits until they
// would fit), then goes on with `next`. A short wait rides out a burst; a
// longer one would only pile requests up.
void Session::AwaitBudget(uint64_t bytes, bool take, std::function<void()> next) {
    if (take ? service.TakeBudget(bytes) : service.BudgetFits(bytes)) {
        if (take) budgetTaken += bytes;
        if (budgetWait) --service.metrics.batchesWaiting;
        budgetWait = false;
        return next();
    }
    if (!budgetWait) {
        ++service.metrics.batchesWaiting;
        budgetWait = true;
        waitingSince = Clock::now();
    } else if (Clock::now() - waitingSince >= kBudgetWait) {
        --service.metrics.batchesWaiting;
        budgetWait = false;
        return Refuse(http::status::service_unavailable, "busy: the batch memory is in use; try again", false);
    }
    budgetTimer.expires_after(kBudgetPoll);
    budgetTimer.async_wait([self = shared_from_this(), bytes, take, next = std::move(next)](beast::error_code ec) {
        if (!ec) self->AwaitBudget(bytes, take, next);
    });
}

// Checked whole on a batch thread, then answered by the batch threads a
// piece at a time.
void Session::AnswerBatch() {
    AwaitBudget(kBatchOverhead, true, [self = shared_from_this()] { self->CheckBatchBody(); });
}

void Session::CheckBatchBody() {
    batch->body = std::move(parser->get().body());
    batch->snapshot = service.Current();
    asio::post(service.BatchThreads(), [self = shared_from_this()] {
        Batch& b = *self->batch;
        const BatchCheck check = CheckBatch(b.format, b.body);
        asio::post(self->stream.get_executor(), [self, check] {
            const bool keepAlive = self->parser->get().keep_alive();
            if (check.error == BatchError::kTooMany)
                return self->Refuse(http::status::payload_too_large, BatchErrorText(check.error), keepAlive);
            if (check.error != BatchError::kNone) {
                const char* where = check.error == BatchError::kMalformed ? " at byte " : " at number ";
                std::string reason = BatchErrorText(check.error);
                if (check.at) reason += where + std::to_string(check.at);
                return self->Refuse(http::status::bad_request, reason, keepAlive);
            }
            self->batch->cursor.emplace(self->batch->format, self->batch->body);
            self->batch->pieceCount = std::max<size_t>(1, (check.count + kPieceNumbers - 1) / kPieceNumbers);
            self->batchHead = {};
            self->batchHead.result(http::status::ok);
            self->batchHead.version(11);
            self->batchHead.set(http::field::content_type, "application/json; charset=utf-8");
            // HTTP/1.0 knows no chunks: its reply ends where the connection does.
            const bool http10 = self->Http10();
            if (!http10) self->batchHead.chunked(true);
            self->KeepAlive(self->batchHead, keepAlive && !http10 && !self->service.Stopping());
            self->batchHeadWriter.emplace(self->batchHead);
            self->stream.expires_after(std::chrono::seconds(self->service.Options().idleSeconds));
            http::async_write_header(self->stream, *self->batchHeadWriter, [self](beast::error_code ec, size_t) {
                if (!ec) self->LaunchPieces();
            });
        });
    });
}

// Never more than kPiecesAhead beyond the one being sent: a slow reader
// slows only itself, and a reply of any size holds a few pieces.
void Session::LaunchPieces() {
    Batch& b = *batch;
    for (; b.launched < b.pieceCount && b.launched < b.nextToSend + kPiecesAhead; ++b.launched)
        asio::post(service.BatchThreads(), [self = shared_from_this()] { self->MakePiece(); });
}

// On a batch thread: takes the next piece's numbers in turn, then answers
// them beside the other batch threads.
void Session::MakePiece() {
    Batch& b = *batch;
    size_t index;
    std::optional<BatchCursor> from;
    {
        std::lock_guard<std::mutex> hold(b.planLock);
        index = b.planned++;
        from = b.cursor;
        std::string_view skipped;
        for (size_t i = 0; i < kPieceNumbers && b.cursor->Next(&skipped); ++i) {
        }
    }
    const Answerer& answerer = b.snapshot->opened->answerer;
    std::string& piece = b.pieces[index % kPiecesAhead];
    piece.clear();
    std::string_view number;
    size_t made = 0;
    for (; made < kPieceNumbers && from->Next(&number); ++made) {
        piece += made || index ? ",{" : "[{";
        AppendJsonAnswer(piece, number, answerer.Ask(number));
    }
    if (index == 0 && made == 0) piece += '[';
    if (index + 1 == b.pieceCount) piece += ']';
    service.metrics.numbersAnswered += made;
    asio::post(stream.get_executor(), [self = shared_from_this(), index] {
        self->batch->made[index % kPiecesAhead] = true;
        if (!self->batch->sending) self->SendPiece();
    });
}

// The pieces go out in order, each as soon as it and those before it are made.
void Session::SendPiece() {
    Batch& b = *batch;
    const size_t slot = b.nextToSend % kPiecesAhead;
    if (!b.made[slot]) return;
    b.sending = true;
    b.sent += b.pieces[slot].size();
    // The timeout runs afresh for each piece: a minimum rate, not a fixed
    // time, so a large reply to a client that reads is never cut.
    stream.expires_after(std::chrono::seconds(service.Options().idleSeconds));
    auto sent = [self = shared_from_this(), slot](beast::error_code ec, size_t) {
        if (ec) return;
        Batch& b = *self->batch;
        b.sending = false;
        b.made[slot] = false;
        if (++b.nextToSend < b.pieceCount) {
            self->LaunchPieces();
            return self->SendPiece();
        }
        auto done = [self](beast::error_code ec, size_t) {
            if (ec) return;
            self->Count(200, self->batch->sent);
            self->Finish(self->batchHead.keep_alive());
        };
        if (!self->batchHead.chunked()) return done({}, 0);
        asio::async_write(self->stream, http::make_chunk_last(), std::move(done));
    };
    if (!batchHead.chunked()) return asio::async_write(stream, asio::buffer(b.pieces[slot]), std::move(sent));
    asio::async_write(stream, http::make_chunk(asio::buffer(b.pieces[slot])), std::move(sent));
}

bool ParseListen(const std::string& text, tcp::endpoint* endpoint) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size()) return false;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const std::string portText = text.substr(colon + 1);
    if (portText.find_first_not_of("0123456789") != std::string::npos || portText.size() > 5) return false;
    const unsigned long port = std::stoul(portText);
    if (port > 65535) return false;
    beast::error_code ec;
    const asio::ip::address address = asio::ip::make_address(host, ec);
    if (ec) return false;
    *endpoint = tcp::endpoint(address, static_cast<unsigned short>(port));
    return true;
}

// Each connection holds a descriptor, and the usual soft limit of 1024 would
// run out before the connection cap; the hard limit is the operator's say.
void RaiseDescriptorLimit(unsigned connections) {
    const rlim_t wanted = rlim_t{connections} + 64;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < std::min(wanted, limit.rlim_max)) {
        limit.rlim_cur = std::min(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int Serve(const ServeOptions& given, std::string* error) {
    ServeOptions options = given;
    if (options.threads == 0) options.threads = std::max(1u, std::thread::hardware_concurrency());
    tcp::endpoint endpoint;
    if (!ParseListen(options.listen, &endpoint)) {
        *error = "--listen wants ADDRESS:PORT, such as 127.0.0.1:8080 or [::1]:8080: " + options.listen;
        return 2;
    }
    if (options.batchThreads == 0) options.batchThreads = options.threads;
    DirectoryResult result;
    std::string cause;
    std::shared_ptr<const Snapshot> first = LoadSnapshot(options.file, &result, &cause);
    if (!first) {
        *error =
            std::string(DirectoryResultText(result)) + (cause.empty() ? "" : " (" + cause + ")") + ": " + options.file;
        return 2;
    }
    RaiseDescriptorLimit(options.maxConnections);
    Service service(options, first);
    if (!service.Listen(endpoint, error)) return 2;
    Log("listening on " + service.Address() + " with " + std::to_string(options.threads) + " threads and " +
        std::to_string(options.batchThreads) + " for batches; " + options.file + ": data version " +
        VersionText(first->tables().header) + ", " + std::to_string(first->tables().header.itemCount) + " items");
    first.reset();
    service.Run();
    Log("stopped");
    return 0;
}
