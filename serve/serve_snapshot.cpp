// vnlt serve: the directory in service.
#include "serve/serve_snapshot.h"

#include <cerrno>
#include <cstring>

#include "base/utf8.h"

std::string VersionText(const DirectoryHeader& h) {
    return std::to_string(h.versionYear) + "." + std::to_string(h.versionMonth) + "." + std::to_string(h.versionDay);
}

// Called by one thread at a time: at start, then by the signal handler.
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
