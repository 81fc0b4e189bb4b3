// vnlt serve: the directory as an HTTP lookup service (Linux).
#pragma once

#include <string>

struct ServeOptions {
    std::string file;  // the directory file, UTF-8 path
    std::string listen = "127.0.0.1:8080";
    unsigned threads = 0;  // 0: one per processor
    unsigned maxConnections = 1024;
    unsigned idleSeconds = 30;  // for a whole request to arrive, or a reply to be taken
    bool accessLog = false;
};

// Serves until SIGTERM or SIGINT; SIGHUP loads the file again. 0 after a
// clean stop, 2 when the file cannot be loaded or the address not bound
// (`*error` says why).
int Serve(const ServeOptions& options, std::string* error);
