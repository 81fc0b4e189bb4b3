// vnlt serve: the directory as an HTTP lookup service, on Boost.Beast.
#include "serve/serve.h"

#include <utility>  // before Asio: Boost 1.74 uses std::exchange unannounced under C++20

#include <malloc.h>
#include <sys/resource.h>
#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast.hpp>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "answer/answer.h"
#include "answer/delimited.h"
#include "base/utf8.h"
#include "directory/directory.h"
#include "serve/serve_request.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr size_t kHeaderLimit = 16 * 1024;
constexpr size_t kTargetLimit = 8 * 1024;
constexpr uint64_t kBodyLimit = 64 * 1024 * 1024;
constexpr size_t kLargeReply = 16 * 1024 * 1024;

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
std::shared_ptr<const Snapshot> LoadSnapshot(const std::string& file, DirectoryResult* result) {
    auto snapshot = std::make_shared<Snapshot>();
    *result = OpenAnswering(Utf8ToUtf16(file).c_str(), &snapshot->opened);
    if (*result != kDirectoryOk) return nullptr;
    snapshot->file = file;
    return snapshot;
}

std::string StatsJson(const Snapshot& s) {
    const DirectoryHeader& h = s.tables().header;
    std::string out = "{\"dataVersion\":\"" + VersionText(h) + "\"";
    out += ",\"numbers\":" + std::to_string(h.numberCount);
    out += ",\"items\":" + std::to_string(h.itemCount);
    out += ",\"areas\":" + std::to_string(h.areaCount);
    out += ",\"types\":" + std::to_string(h.typeCount);
    out += ",\"bytes\":{\"file\":" + std::to_string(DirectoryFileSize(h));
    out += ",\"items\":" + std::to_string(kItemSize * h.itemCount);
    out += ",\"areas\":" + std::to_string(2 * (h.areaCount + h.areaPoolLength));
    out += ",\"types\":" + std::to_string(2 * (h.typeCount + h.typePoolLength));
    out += "},\"file\":\"";
    AppendJsonString(out, s.file);
    out += "\"}";
    return out;
}

class Service;

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, Service& owner);
    ~Session();
    void Start() { Read(); }

private:
    void Read();
    void OnHeader(beast::error_code ec);
    void OnRead(beast::error_code ec);
    // `allow`: the methods the path takes, for a 405.
    void Reply(http::status status, std::string body, bool keepAlive, const char* allow = nullptr);
    void Refuse(http::status status, const std::string& reason, bool keepAlive, const char* allow = nullptr);
    void Route();

    beast::tcp_stream stream;
    Service& service;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    http::response<http::string_body> response;
    http::response<http::empty_body> goOn;
    std::chrono::steady_clock::time_point started;
};

class Service {
public:
    Service(const ServeOptions& serveOptions, std::shared_ptr<const Snapshot> first)
        : options(serveOptions),
          io(static_cast<int>(serveOptions.threads)),
          acceptor(io),
          acceptPause(io),
          signals(io, SIGHUP, SIGTERM, SIGINT),
          current(std::move(first)) {}

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
        std::vector<std::thread> others;
        for (unsigned i = 1; i < options.threads; ++i) others.emplace_back([this] { RunHandlers(); });
        RunHandlers();
        for (std::thread& t : others) t.join();
    }

    std::shared_ptr<const Snapshot> Current() const { return current.load(std::memory_order_acquire); }
    const ServeOptions& Options() const { return options; }
    std::string Address() const {
        const tcp::endpoint bound = acceptor.local_endpoint();
        const std::string host = bound.address().to_string();
        return (bound.address().is_v6() ? "[" + host + "]" : host) + ":" + std::to_string(bound.port());
    }
    std::atomic<unsigned> connections{0};

private:
    // A handler that throws (memory running out for a batch) costs its own
    // connection, never the service.
    void RunHandlers() {
        for (;;) {
            try {
                io.run();
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
            if (ec) return PauseAccepting(ec);
            if (!acceptFailure.empty()) {
                Log("accepting again");
                acceptFailure.clear();
            }
            // Over the cap the connection is closed at once: a client
            // retries, and the service's memory stays bounded.
            if (connections.load() >= options.maxConnections) {
                beast::error_code ignored;
                socket.close(ignored);
            } else {
                std::make_shared<Session>(std::move(socket), *this)->Start();
            }
            if (acceptor.is_open()) Accept();
        });
    }

    // Out of descriptors, the waiting connection stays queued and accept
    // fails again at once: retrying at once would spin and flood the log.
    // Only one accept is ever pending, so acceptFailure needs no lock.
    void PauseAccepting(const beast::error_code& ec) {
        if (ec.message() != acceptFailure) {
            acceptFailure = ec.message();
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
                WaitForSignal();
                return;
            }
            Log(signal == SIGTERM ? "stopping on SIGTERM" : "stopping on SIGINT");
            beast::error_code ignored;
            acceptor.close(ignored);
            io.stop();
        });
    }

    void Reload() {
        const std::string& file = options.file;
        DirectoryResult result;
        std::shared_ptr<const Snapshot> next = LoadSnapshot(file, &result);
        if (!next) {
            Log("reload failed: " + file + ": " + DirectoryResultText(result) + "; still serving data version " +
                VersionText(Current()->tables().header));
            return;
        }
        const std::string line = "reloaded " + file + ": data version " + VersionText(next->tables().header) + ", " +
                                 std::to_string(next->tables().header.itemCount) + " items";
        current.store(std::move(next), std::memory_order_release);
        Log(line);  // once every new request is answered from it
    }

    ServeOptions options;
    asio::io_context io;
    tcp::acceptor acceptor;
    asio::steady_timer acceptPause;
    std::string acceptFailure;
    asio::signal_set signals;
    std::atomic<std::shared_ptr<const Snapshot>> current;
};

Session::Session(tcp::socket socket, Service& owner) : stream(std::move(socket)), service(owner) {
    ++service.connections;
}

Session::~Session() { --service.connections; }

void Session::Read() {
    parser.emplace();
    parser->header_limit(kHeaderLimit);
    parser->body_limit(kBodyLimit);
    // The whole request must come, and its reply be taken, within the
    // timeout: a slow or idle client loses its connection rather than
    // holding it.
    stream.expires_after(std::chrono::seconds(service.Options().idleSeconds));
    http::async_read_header(stream, buffer, *parser,
                            [self = shared_from_this()](beast::error_code ec, size_t) { self->OnHeader(ec); });
}

void Session::OnHeader(beast::error_code ec) {
    if (ec || parser->is_done()) return OnRead(ec);
    auto next = [self = shared_from_this()](beast::error_code ec, size_t) {
        if (ec) return;
        http::async_read(self->stream, self->buffer, *self->parser,
                         [self](beast::error_code ec, size_t) { self->OnRead(ec); });
    };
    // curl, among others, waits a second for this before sending a large body.
    if (beast::iequals(parser->get()[http::field::expect], "100-continue")) {
        goOn = {};
        goOn.version(11);
        goOn.result(http::status::continue_);
        return http::async_write(stream, goOn, std::move(next));
    }
    next(beast::error_code(), 0);
}

void Session::OnRead(beast::error_code ec) {
    started = std::chrono::steady_clock::now();
    if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == asio::error::connection_reset ||
        ec == asio::error::eof || ec == asio::error::operation_aborted) {
        beast::error_code ignored;
        stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        return;
    }
    if (ec == http::error::body_limit) return Refuse(http::status::payload_too_large, "body over 64 MiB", false);
    if (ec == http::error::header_limit)
        return Refuse(http::status::request_header_fields_too_large, "request line and headers over 16 KiB", false);
    if (ec == http::error::partial_message) return;  // cut off midway: nobody to answer
    if (ec) return Refuse(http::status::bad_request, "malformed request: " + ec.message(), false);
    Route();
}

void Session::Reply(http::status status, std::string body, bool keepAlive, const char* allow) {
    response = {};
    response.result(status);
    response.version(11);
    response.set(http::field::content_type, "application/json; charset=utf-8");
    if (allow) response.set(http::field::allow, allow);
    response.body() = std::move(body);
    response.keep_alive(keepAlive);
    response.prepare_payload();
    if (service.Options().accessLog) {
        const auto& request = parser->get();
        const auto micros =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
        std::string target(request.target().substr(0, 200));
        Log("access: " + std::string(request.method_string()) + " " + target + " " +
            std::to_string(static_cast<unsigned>(status)) + " " + std::to_string(response.body().size()) + " bytes " +
            std::to_string(micros) + " us");
    }
    http::async_write(stream, response, [self = shared_from_this()](beast::error_code ec, size_t) {
        if (ec) return;
        if (!self->response.keep_alive()) {
            beast::error_code ignored;
            self->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
            return;
        }
        const bool large = self->response.body().size() >= kLargeReply;
        // A batch's request and answer are not kept while the connection idles.
        self->response = {};
        self->parser.reset();
        // glibc keeps a large batch's freed blocks for reuse; given back,
        // the resident memory returns to its idle size.
        if (large) malloc_trim(0);
        self->Read();
    });
}

void Session::Refuse(http::status status, const std::string& reason, bool keepAlive, const char* allow) {
    std::string body = "{\"error\":\"";
    AppendJsonString(body, reason);
    body += "\"}";
    if (static_cast<unsigned>(status) != 404 && static_cast<unsigned>(status) != 405)
        Log("refused with " + std::to_string(static_cast<unsigned>(status)) + ": " + reason);
    Reply(status, std::move(body), keepAlive, allow);
}

// The JSON array of the answers, built in one string reserved once.
std::string AnswerBatch(const Answerer& answerer, const std::vector<std::string>& numbers) {
    std::string body;
    body.reserve(numbers.size() * 170 + 2);
    body += '[';
    for (size_t i = 0; i < numbers.size(); ++i) {
        body += i ? ",{" : "{";
        AppendJsonAnswer(body, numbers[i], answerer.Ask(numbers[i]));
    }
    body += ']';
    return body;
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

void Session::Route() {
    auto& request = parser->get();
    const bool keepAlive = request.keep_alive();
    const beast::string_view target = request.target();
    if (target.size() > kTargetLimit) return Refuse(http::status::uri_too_long, "URL over 8 KiB", false);
    const size_t mark = target.find('?');
    const beast::string_view path = target.substr(0, mark);
    const beast::string_view query = mark == beast::string_view::npos ? beast::string_view() : target.substr(mark + 1);
    const http::verb method = request.method();

    if (path == "/healthz") {
        if (method != http::verb::get) return Refuse(http::status::method_not_allowed, "use GET", keepAlive, "GET");
        return Reply(http::status::ok, "{\"status\":\"ok\"}", keepAlive);
    }
    if (path == "/v1/stats") {
        if (method != http::verb::get) return Refuse(http::status::method_not_allowed, "use GET", keepAlive, "GET");
        return Reply(http::status::ok, StatsJson(*service.Current()), keepAlive);
    }
    if (path != "/v1/lookup") return Refuse(http::status::not_found, "no such path", keepAlive);

    const std::shared_ptr<const Snapshot> snapshot = service.Current();
    const Answerer& answerer = snapshot->opened->answerer;
    if (method == http::verb::get) {
        std::string number;
        if (!FindQueryParameter({query.data(), query.size()}, "number", &number))
            return Refuse(http::status::bad_request, "missing number", keepAlive);
        if (number.size() > kMaxNumberBytes)
            return Refuse(http::status::bad_request, BatchErrorText(BatchError::kTooLong), keepAlive);
        std::string body;
        body.reserve(256);
        body += '{';
        AppendJsonAnswer(body, number, answerer.Ask(number));
        return Reply(http::status::ok, std::move(body), keepAlive);
    }
    if (method != http::verb::post)
        return Refuse(http::status::method_not_allowed, "use GET or POST", keepAlive, "GET, POST");

    const beast::string_view type = request[http::field::content_type];
    const beast::string_view mediaType = type.substr(0, type.find(';'));
    BatchNumbers batch;
    if (mediaType == "application/json") {
        batch = ReadJsonBatch(request.body());
    } else if (mediaType.empty() || mediaType == "text/plain") {
        batch = ReadLineBatch(request.body());
    } else {
        return Refuse(http::status::unsupported_media_type, "send application/json or text/plain", keepAlive);
    }
    std::string().swap(request.body());
    if (batch.error == BatchError::kTooMany)
        return Refuse(http::status::payload_too_large, BatchErrorText(batch.error), keepAlive);
    if (batch.error != BatchError::kNone) {
        const char* where = batch.error == BatchError::kMalformed ? " at byte " : " at number ";
        std::string reason = BatchErrorText(batch.error);
        if (batch.at) reason += where + std::to_string(batch.at);
        return Refuse(http::status::bad_request, reason, keepAlive);
    }
    Reply(http::status::ok, AnswerBatch(answerer, batch.numbers), keepAlive);
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
    DirectoryResult result;
    std::shared_ptr<const Snapshot> first = LoadSnapshot(options.file, &result);
    if (!first) {
        *error = std::string(DirectoryResultText(result)) + ": " + options.file;
        return 2;
    }
    RaiseDescriptorLimit(options.maxConnections);
    Service service(options, first);
    if (!service.Listen(endpoint, error)) return 2;
    Log("listening on " + service.Address() + " with " + std::to_string(options.threads) + " threads; " + options.file +
        ": data version " + VersionText(first->tables().header) + ", " +
        std::to_string(first->tables().header.itemCount) + " items");
    first.reset();
    service.Run();
    Log("stopped");
    return 0;
}
