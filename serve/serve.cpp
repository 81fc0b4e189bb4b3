// vnlt serve: the directory as an HTTP lookup service, on Boost.Beast.
#include "serve/serve.h"

#include <utility>  // before Asio: Boost 1.74 uses std::exchange unannounced under C++20

#include <sys/resource.h>
#include <algorithm>
#include <cstdio>
#include <mutex>

#include "serve/serve_service.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

namespace {

std::mutex logLock;

}  // namespace

void Log(const std::string& line) {
    std::lock_guard<std::mutex> hold(logLock);
    std::fprintf(stderr, "vnlt serve: %s\n", line.c_str());
    std::fflush(stderr);
}

namespace {

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
