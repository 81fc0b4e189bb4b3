// vnlt serve: the directory as an HTTP lookup service (Linux).
#pragma once

#include <string>

struct ServeOptions {
    std::string file;  // the directory file, UTF-8 path
    std::string listen = "127.0.0.1:8080";
    unsigned threads = 0;       // for connections; 0: one per processor
    unsigned batchThreads = 0;  // for answering batches; 0: as many as for connections
    unsigned maxConnections = 1024;
    unsigned maxPerAddress = 128;   // connections from one client address
    unsigned idleSeconds = 30;      // for a request to arrive, or each piece of a reply to be taken
    unsigned batchMemoryMiB = 256;  // for the bodies and replies of the batches in hand, all together
    unsigned drainSeconds = 20;     // on SIGTERM, for the requests in hand to finish
    bool accessLog = false;
};

// Serves until SIGTERM or SIGINT, then finishes the requests in hand for up
// to drainSeconds; SIGHUP loads the file again. 0 after a stop, 2 when the
// file cannot be loaded or the address not bound (`*error` says why).
int Serve(const ServeOptions& options, std::string* error);
