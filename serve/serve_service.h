// vnlt serve: the service: its listener, its connections and the caps on
// them, the batch memory, the directory in service, signals and reload.
#pragma once

#include <utility>  // before Asio: Boost 1.74 uses std::exchange unannounced under C++20

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "serve/serve.h"
#include "serve/serve_metrics.h"
#include "serve/serve_session.h"
#include "serve/serve_snapshot.h"

// A line on standard error, whole, whichever thread writes it.
void Log(const std::string& line);

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
