// vnlt serve: the directory in service.
#include "serve/serve_snapshot.h"

#include "base/utf8.h"
#include "platform/platform.h"

std::string VersionText(const DirectoryHeader& h) {
    return std::to_string(h.versionYear) + "." + std::to_string(h.versionMonth) + "." + std::to_string(h.versionDay);
}

// Called by one thread at a time: at start, then by the signal handler.
std::shared_ptr<const Snapshot> LoadSnapshot(const std::string& file, DirectoryResult* result, std::string* cause) {
    auto snapshot = std::make_shared<Snapshot>();
    int error;
    *result = OpenAnswering(Utf8PathToUtf16(file).c_str(), &snapshot->opened, &error);
    if (*result != kDirectoryOk) {
        *cause = SystemErrorText(error);
        return nullptr;
    }
    snapshot->file = file;
    return snapshot;
}
