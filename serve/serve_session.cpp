// vnlt serve: one connection, moving bytes.
#include "serve/serve_session.h"

#include <malloc.h>
#include <algorithm>

#include "serve/serve_request.h"
#include "serve/serve_service.h"

namespace {

constexpr auto kBudgetWait = std::chrono::seconds(1);
constexpr auto kBudgetPoll = std::chrono::milliseconds(20);
constexpr auto kLinger = std::chrono::seconds(1);

}  // namespace

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
        if (self->waiting)
            self->stream.socket().close(ignored);
        else
            self->closing = false;  // a request came first: it may give way later
    });
}

void Session::Read() {
    if (service.Stopping()) return Finish(false);
    reader.Reset();
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
                      "request line and headers over " + SizeText(kHeaderLimit));
    }
    stream.async_read_some(
        buffer.prepare(std::min(kReadSize, buffer.max_size() - buffer.size())),
        [self = shared_from_this()](beast::error_code ec, size_t n) {
            self->buffer.commit(n);
            // The request's time runs from its first byte,
            // not from when the connection went idle.
            if (self->waiting && n) {
                self->requestStart = Clock::now();
                self->stream.expires_after(std::chrono::seconds(self->service.Options().idleSeconds));
            }
            self->waiting = false;
            if (ec) return self->OnReadError(ec, "before its head was whole");
            self->ReadHead();
        });
}

void Session::OnHead(size_t start, size_t end) {
    started = Clock::now();
    waiting = false;
    buffer.consume(start);
    const auto data = buffer.data();
    const RequestReader::Step step = reader.Head({static_cast<const char*>(data.data()), end - start});
    buffer.consume(end - start);
    if (step == RequestReader::Step::kRefused) return Refuse(reader.Status(), reader.Reason());
    const auto& request = reader.Get().get();
    head = request.method() == http::verb::head;
    const std::shared_ptr<const Snapshot> snapshot = service.Current();
    routed = Respond(request.method(), {request.target().data(), request.target().size()}, request,
                     {*snapshot, service.metrics, service.BatchBudget()});
    route = routed.route;
    if (routed.batch) return StartBatch(routed.format);
    // Refused at the head: what the client still sends is dropped.
    if (routed.close) return Send(std::move(routed));
    if (reader.LimitBody(kSmallBodyLimit, false) == RequestReader::Step::kRefused)
        return Refuse(reader.Status(), reader.Reason());
    ReadBody();
}

void Session::ReadBody() {
    // curl, among others, waits a second for this before sending a large body.
    auto& parser = reader.Get();
    if (!parser.is_done() && beast::iequals(parser.get()[http::field::expect], "100-continue")) {
        goOn = {};
        goOn.version(11);
        goOn.result(http::status::continue_);
        return http::async_write(stream, goOn, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (!ec) self->FeedBody();
        });
    }
    FeedBody();
}

void Session::FeedBody() {
    const RequestReader::Step step = reader.Body(buffer);
    if (step == RequestReader::Step::kRefused) return Refuse(reader.Status(), reader.Reason());
    const std::string& body = reader.Get().get().body();
    if (batch && body.size() > bodyCounted) {
        const uint64_t more = body.size() - bodyCounted;
        bodyCounted += more;
        return AwaitBudget(more, true, [self = shared_from_this()] { self->FeedBody(); });
    }
    if (step == RequestReader::Step::kDone) {
        if (batch) return AwaitBudget(kBatchOverhead, true, [self = shared_from_this()] { self->CheckBatchBody(); });
        return Send(std::move(routed));
    }
    stream.async_read_some(buffer.prepare(std::min(kReadSize, buffer.max_size() - buffer.size())),
                           [self = shared_from_this()](beast::error_code ec, size_t n) {
                               self->buffer.commit(n);
                               if (ec) return self->OnReadError(ec, "before its body was whole");
                               self->FeedBody();
                           });
}

// Cut off or timed out midway: nobody to answer.
void Session::OnReadError(beast::error_code ec, const char* when) {
    if (ec == beast::error::timeout && (reader.HasHead() || buffer.size())) Cut(when);
    Finish(false);
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
    if (reader.HasHead())
        request = std::string(reader.Get().get().method_string()) + " " +
                  std::string(reader.Get().get().target().substr(0, 200));
    Log("access: " + request + " " + std::to_string(status) + " " + std::to_string(bytes) + " bytes " +
        std::to_string(static_cast<long long>(seconds * 1e6)) + " us");
}

void Session::Send(RouteReply reply) {
    const unsigned status = static_cast<unsigned>(reply.status);
    if (!reply.refusal.empty() && status != 404 && status != 405)
        Log("refused with " + std::to_string(status) + ": " + reply.refusal);
    service.metrics.numbersAnswered += reply.numbers;
    response = {};
    response.result(reply.status);
    response.version(11);
    response.set(http::field::content_type, reply.type);
    if (reply.allow) response.set(http::field::allow, reply.allow);
    for (size_t i = 0; i < reply.page.headerCount; ++i)
        response.set(reply.page.headers[i].name,
                     {reply.page.headers[i].value.data(), reply.page.headers[i].value.size()});
    if (reply.status == http::status::service_unavailable) response.set(http::field::retry_after, "1");
    response.body() = std::move(reply.body);
    KeepAlive(response, !reply.close && KeepRequested() && !service.Stopping());
    response.prepare_payload();
    Count(status, response.body().size());
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

// Once a reply is sent: the next request on a kept connection, or the end.
// A batch's request and answer are not kept while the connection idles.
void Session::Finish(bool keepAlive) {
    response = {};
    routed = {};
    if (batch) {
        const bool large = batch->body.size() >= (1 << 20) || reader.Get().get().body().size() >= (1 << 20);
        // Its memory is freed before its budget is given back: another batch
        // may take it at once.
        batch.reset();
        reader.Reset();
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
    stream.async_read_some(buffer.prepare(kReadSize), [self = shared_from_this()](beast::error_code ec, size_t) {
        if (!ec) self->Linger();
    });
}

// No batch memory is held for a body that is not arriving: a batch takes
// its share as its body's bytes come, and the room for its reply once the
// body is whole. A Content-Length that could not fit now is refused before
// the client sends it.
void Session::StartBatch(BatchFormat format) {
    batch = std::make_unique<Batch>();
    batch->format = format;
    ++service.metrics.batchesRunning;
    // A chunked body may be as large as the budget allows, up to the limit.
    const uint64_t most = std::min(kBodyLimit, service.BatchBudget() - kBatchOverhead);
    if (reader.LimitBody(most, true) == RequestReader::Step::kRefused) return Refuse(reader.Status(), reader.Reason());
    const boost::optional<uint64_t> length = reader.Get().content_length();
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
        return Refuse(http::status::service_unavailable, "busy: the batch memory is in use; try again");
    }
    budgetTimer.expires_after(kBudgetPoll);
    budgetTimer.async_wait([self = shared_from_this(), bytes, take, next = std::move(next)](beast::error_code ec) {
        if (!ec) self->AwaitBudget(bytes, take, next);
    });
}

// Checked whole on a batch thread, then answered by the batch threads a
// piece at a time.
void Session::CheckBatchBody() {
    batch->body = std::move(reader.Get().get().body());
    batch->snapshot = service.Current();
    asio::post(service.BatchThreads(), [self = shared_from_this()] {
        Batch& b = *self->batch;
        b.check = CheckBatch(b.format, b.body);
        asio::post(self->stream.get_executor(), [self] {
            const bool keepAlive = self->KeepRequested();
            const BatchCheck& check = self->batch->check;
            if (check.error == BatchError::kTooMany)
                return self->Send(Refusal(http::status::payload_too_large, BatchErrorText(check.error), !keepAlive));
            if (check.error != BatchError::kNone) {
                const char* where = check.error == BatchError::kMalformed ? " at byte " : " at number ";
                std::string reason = BatchErrorText(check.error);
                if (check.at) reason += where + std::to_string(check.at);
                return self->Send(Refusal(http::status::bad_request, reason, !keepAlive));
            }
            self->batch->pieceCount = std::max<size_t>(1, (check.count + kPieceNumbers - 1) / kPieceNumbers);
            self->batchHead = {};
            self->batchHead.result(http::status::ok);
            self->batchHead.version(11);
            self->batchHead.set(http::field::content_type, kJsonType);
            // HTTP/1.0 knows no chunks: its reply ends where the connection does.
            const bool http10 = self->reader.Http10();
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
        asio::post(service.BatchThreads(), [self = shared_from_this(), index = b.launched] {
            self->service.metrics.numbersAnswered += MakePiece(*self->batch, index);
            asio::post(self->stream.get_executor(), [self, index] {
                self->batch->made[index % kPiecesAhead] = true;
                if (!self->batch->sending) self->SendPiece();
            });
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
