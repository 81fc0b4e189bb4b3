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
#include "serve/web_files.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kHeaderLimit = 16 * 1024;
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

const char* BatchErrorText(BatchError error) {
    switch (error) {
        case BatchError::kMalformed:
            return "malformed JSON";
        case BatchError::kNotStrings:
            return "the body must be a JSON array of strings";
        case BatchError::kTooMany:
            return "more than 1000000 numbers";
        case BatchError::kTooLong:
            return "number longer than 100 bytes";
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

private:
    void Read();
    void ReadHead();
    void OnHead(size_t start, size_t end);
    void ReadBody();
    void OnBody(beast::error_code ec);
    void AskToGoOn();
    void Dispatch();
    void StartBatch();
    void WaitForBudget();
    void AnswerBatch();
    void LaunchPieces();
    void MakePiece();
    void SendPiece();
    // `allow`: the methods the path takes, for a 405.
    void Reply(http::status status, std::string body, bool keepAlive, const char* allow = nullptr,
               const char* type = "application/json; charset=utf-8");
    void Refuse(http::status status, const std::string& reason, bool keepAlive, const char* allow = nullptr);
    void ReplyWeb(const WebReply& page, bool keepAlive);
    void Finish(bool keepAlive);
    void Linger();
    void Count(unsigned status, size_t bytes);

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
    Clock::time_point waitingSince;
    enum Route route = Route::kOther;
    bool head = false;     // a HEAD request: the reply's header only
    bool waiting = false;  // for a request, none of it come yet
    uint64_t budgetTaken = 0;
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
        {
            std::lock_guard<std::mutex> hold(sessionsLock);
            const bool overTotal = sessions.size() >= options.maxConnections;
            if (overTotal || perAddress[from] >= options.maxPerAddress) {
                if (perAddress[from] == 0) perAddress.erase(from);
                socket.close(ec);
                return NoteRefusal(overTotal, from);
            }
            ++perAddress[from];
            ++metrics.connectionsOpen;
        }
        auto session = std::make_shared<Session>(std::move(socket), *this, from);
        {
            std::lock_guard<std::mutex> hold(sessionsLock);
            sessions.insert(session.get());
        }
        session->Start();
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
    : stream(std::move(socket)), service(owner), address(from), budgetTimer(stream.get_executor()) {}

Session::~Session() {
    if (budgetTaken) service.GiveBudget(budgetTaken);
    if (batch) --service.metrics.batchesRunning;
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
    route = Route::kOther;
    head = false;
    waiting = buffer.size() == 0;
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
        return Refuse(http::status::request_header_fields_too_large, "request line and headers over 16 KiB", false);
    }
    stream.async_read_some(buffer.prepare(8192), [self = shared_from_this()](beast::error_code ec, size_t n) {
        self->buffer.commit(n);
        self->waiting = false;
        // Cut off or timed out before a whole head: nobody to answer.
        if (ec) {
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
    parser->header_limit(kHeaderLimit);
    parser->body_limit(kBodyLimit);
    beast::error_code ec;
    if (text.size() > kHeaderLimit) ec = http::error::header_limit;
    if (!ec) parser->put(asio::buffer(text.data(), text.size()), ec);
    buffer.consume(text.size());
    if (ec == http::error::header_limit)
        return Refuse(http::status::request_header_fields_too_large, "request line and headers over 16 KiB", false);
    if (ec == http::error::body_limit) return Refuse(http::status::payload_too_large, "body over 64 MiB", false);
    if (ec || !parser->is_header_done())
        return Refuse(http::status::bad_request, "malformed request: " + (ec ? ec.message() : "no header"), false);
    const auto& request = parser->get();
    if (request.version() == 11 && request.count(http::field::host) != 1)
        return Refuse(http::status::bad_request, "HTTP/1.1 wants one Host header", false);
    head = request.method() == http::verb::head;
    const beast::string_view target = request.target();
    if (request.method() == http::verb::post && target.substr(0, target.find('?')) == "/v1/lookup") return StartBatch();
    if (parser->content_length().value_or(0) > kSmallBodyLimit) return OnBody(http::error::body_limit);
    parser->body_limit(kSmallBodyLimit);
    ReadBody();
}

void Session::ReadBody() {
    if (parser->is_done()) return OnBody({});
    // curl, among others, waits a second for this before sending a large body.
    if (beast::iequals(parser->get()[http::field::expect], "100-continue")) {
        goOn = {};
        goOn.version(11);
        goOn.result(http::status::continue_);
        return http::async_write(stream, goOn, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (ec) return;
            http::async_read(self->stream, self->buffer, *self->parser,
                             [self](beast::error_code ec, size_t) { self->OnBody(ec); });
        });
    }
    http::async_read(stream, buffer, *parser,
                     [self = shared_from_this()](beast::error_code ec, size_t) { self->OnBody(ec); });
}

void Session::OnBody(beast::error_code ec) {
    if (ec == http::error::body_limit)
        return Refuse(http::status::payload_too_large,
                      route == Route::kBatch ? "body over 64 MiB or the batch memory"
                                             : "body over 64 KiB on a path that reads none",
                      false);
    if (ec == http::error::end_of_stream || ec == http::error::partial_message || ec == beast::error::timeout ||
        ec == asio::error::connection_reset || ec == asio::error::eof || ec == asio::error::operation_aborted)
        return Finish(false);  // cut off midway: nobody to answer
    if (ec) return Refuse(http::status::bad_request, "malformed request: " + ec.message(), false);
    if (route == Route::kBatch) return AnswerBatch();
    Dispatch();
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
    response.keep_alive(keepAlive && !service.Stopping());
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

void Session::ReplyWeb(const WebReply& page, bool keepAlive) {
    response = {};
    response.result(page.status);
    response.version(11);
    for (size_t i = 0; i < page.headerCount; ++i)
        response.set(page.headers[i].name, {page.headers[i].value.data(), page.headers[i].value.size()});
    response.body().assign(page.body);
    response.keep_alive(keepAlive && !service.Stopping());
    response.prepare_payload();
    Count(page.status, response.body().size());
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
    if (target.size() > kTargetLimit) return Refuse(http::status::uri_too_long, "URL over 8 KiB", false);
    const size_t mark = target.find('?');
    const beast::string_view path = target.substr(0, mark);
    const beast::string_view query = mark == beast::string_view::npos ? beast::string_view() : target.substr(mark + 1);
    const http::verb method = request.method();
    const bool get = method == http::verb::get || method == http::verb::head;

    WebReply page;
    const beast::string_view tags = request[http::field::if_none_match];
    if (AnswerWebFile({path.data(), path.size()}, {tags.data(), tags.size()}, &page)) {
        if (!get) return Refuse(http::status::method_not_allowed, "use GET", keepAlive, "GET, HEAD");
        return ReplyWeb(page, keepAlive);
    }
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
    if (!FindQueryParameter({query.data(), query.size()}, "number", &number))
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

// A batch's body is read only once its share of the batch memory is taken,
// its Content-Length or, chunked, the most a body may be.
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
    budgetTaken = (length ? *length : most) + kBatchOverhead;
    if (service.TakeBudget(budgetTaken)) return ReadBody();
    ++service.metrics.batchesWaiting;
    waitingSince = Clock::now();
    WaitForBudget();
}

// A short wait rides out a burst; a longer one would only pile requests up.
void Session::WaitForBudget() {
    budgetTimer.expires_after(kBudgetPoll);
    budgetTimer.async_wait([self = shared_from_this()](beast::error_code ec) {
        if (ec) return;
        if (self->service.TakeBudget(self->budgetTaken)) {
            --self->service.metrics.batchesWaiting;
            return self->ReadBody();
        }
        if (Clock::now() - self->waitingSince < kBudgetWait) return self->WaitForBudget();
        --self->service.metrics.batchesWaiting;
        self->budgetTaken = 0;
        self->Refuse(http::status::service_unavailable, "busy: the batch memory is in use; try again", false);
    });
}

// Checked whole on a batch thread, then answered by the batch threads a
// piece at a time.
void Session::AnswerBatch() {
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
            self->batchHead.chunked(true);
            self->batchHead.keep_alive(keepAlive && !self->service.Stopping());
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
    asio::async_write(stream, http::make_chunk(asio::buffer(b.pieces[slot])),
                      [self = shared_from_this(), slot](beast::error_code ec, size_t) {
                          if (ec) return;
                          Batch& b = *self->batch;
                          b.sending = false;
                          b.made[slot] = false;
                          if (++b.nextToSend < b.pieceCount) {
                              self->LaunchPieces();
                              return self->SendPiece();
                          }
                          asio::async_write(self->stream, http::make_chunk_last(),
                                            [self](beast::error_code ec, size_t) {
                                                if (ec) return;
                                                self->Count(200, self->batch->sent);
                                                self->Finish(self->batchHead.keep_alive());
                                            });
                      });
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
